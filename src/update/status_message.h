// The status and error messages of the content update.
#pragma once

#include <cstdint>

// The status code of an update that failed.
constexpr int16_t kStatusConversionFailed = 132;

// Shows, with the information icon, "Conversion completed" for 128 and
// "Conversion unnecessary" for 130; nothing for any other code.
void ShowStatusMessage(int16_t status);

// Shows, with the stop icon, "コンバートできませんでした。" for 132; nothing for
// any other code.
void ShowErrorMessage(int16_t status);
