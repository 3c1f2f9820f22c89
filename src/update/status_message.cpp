#include "update/status_message.h"

#include "platform/platform.h"
#include "support/message_texts.h"

namespace {

constexpr uint32_t kInformationBox = 64;
constexpr uint32_t kStopBox = 16;

}  // namespace

void ShowStatusMessage(int16_t status) {
    const char *text = nullptr;
    if (status == 128) text = kConversionCompletedText;
    if (status == 130) text = kConversionUnnecessaryText;
    if (text != nullptr) PlatformMessageBox(nullptr, text, kStatusCaption, kInformationBox);
}

void ShowErrorMessage(int16_t status) {
    if (status == kStatusConversionFailed)
        PlatformMessageBox(nullptr, kConversionFailedText, kUpdaterCaption, kStopBox);
}
