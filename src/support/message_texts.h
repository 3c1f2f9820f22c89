// The texts of the library's message boxes, as the bytes that are shown: code
// page 932 where they are Japanese. Each has its text in a comment.
#pragma once

// Captions.
inline constexpr char kStatusCaption[] = "Updater";

// Status messages.
inline constexpr char kConversionCompletedText[] = "Conversion completed";
inline constexpr char kConversionUnnecessaryText[] = "Conversion unnecessary";
