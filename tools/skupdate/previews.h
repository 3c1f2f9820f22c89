// Preview pictures: the open file's picture drawn by the library into a memory
// device context and saved as a PNG file.
#pragma once

#include <cstdint>
#include <set>
#include <string>

// Draws the preview of the file that is open in the library (its own picture,
// else the update source's default picture) at width x height pixels and saves
// it as pngPath. Empty on success, else what failed.
std::string SavePreview(const std::string &pngPath, int32_t width, int32_t height);

// The preview's path for a content file: folder/STEM.png, with -2, -3, ...
// behind the stem when an earlier file of the run took that name (taken holds
// the names given so far).
std::string PreviewPath(const std::string &folder, const std::string &file,
                        std::set<std::string> *taken);
