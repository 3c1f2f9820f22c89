#include "update/status_message.h"

#include "platform/platform.h"
#include "support/message_texts.h"

namespace {

constexpr uint32_t kInformationBox = 64;

}  // namespace

void ShowStatusMessage(int16_t status) {
    const char *text = nullptr;
    if (status == 128) text = kConversionCompletedText;
    if (status == 130) text = kConversionUnnecessaryText;
    if (text != nullptr) PlatformMessageBox(nullptr, text, kStatusCaption, kInformationBox);
}
