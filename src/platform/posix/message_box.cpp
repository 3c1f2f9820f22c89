// The POSIX stand-in for a message box. Nothing is shown and nothing waits: the
// box is written to standard error as "caption: text" and, when
// SKELMORA_MESSAGE_LOG names a file, appended to it as one JSON line. Caption
// and text arrive in code page 932 and leave in UTF-8. The answer is the next
// number of SKELMORA_MESSAGE_ANSWERS (comma-separated, taken in order through
// the life of the process); when none is left, an OK-and-Cancel box answers
// Cancel (2) and every other box OK (1).
#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/posix/event_log.h"

namespace {

constexpr uint32_t kButtonsMask = 0x0F;
constexpr uint32_t kOkCancel = 1;
constexpr int32_t kAnswerOk = 1;
constexpr int32_t kAnswerCancel = 2;

// The answers variable as last seen, and how many of its answers are taken. A
// new value of the variable starts from its first answer.
std::string g_answers;
size_t g_answersTaken;

// Bytes that code page 932 does not map become U+FFFD.
std::string Utf8FromCodePage932(const char *text) {
    std::string out;
    iconv_t convert = iconv_open("UTF-8", "CP932");
    if (convert == reinterpret_cast<iconv_t>(-1)) return text;
    char *in = const_cast<char *>(text);
    size_t inLeft = std::strlen(text);
    while (inLeft > 0) {
        char buffer[256];
        char *to = buffer;
        size_t toLeft = sizeof buffer;
        size_t result = iconv(convert, &in, &inLeft, &to, &toLeft);
        out.append(buffer, static_cast<size_t>(to - buffer));
        if (result == static_cast<size_t>(-1) && errno != E2BIG) {
            out += "\xEF\xBF\xBD";
            ++in;
            --inLeft;
            iconv(convert, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(convert);
    return out;
}

// The next answer of the answers variable, or 0 when none is left.
int32_t NextAnswer() {
    const char *value = std::getenv("SKELMORA_MESSAGE_ANSWERS");
    std::string answers = value != nullptr ? value : "";
    if (answers != g_answers) {
        g_answers = answers;
        g_answersTaken = 0;
    }
    size_t at = 0;
    for (size_t i = 0; i < g_answersTaken && at != std::string::npos; ++i) {
        at = answers.find(',', at);
        if (at != std::string::npos) ++at;
    }
    if (at == std::string::npos || at >= answers.size()) return 0;
    ++g_answersTaken;
    return static_cast<int32_t>(std::strtol(answers.c_str() + at, nullptr, 10));
}

}  // namespace

int32_t BackendMessageBox(void *owner, const char *text, const char *caption, uint32_t type) {
    const std::string utf8Text = Utf8FromCodePage932(text != nullptr ? text : "");
    const std::string utf8Caption = Utf8FromCodePage932(caption != nullptr ? caption : "");
    int32_t answer = NextAnswer();
    if (answer == 0) answer = (type & kButtonsMask) == kOkCancel ? kAnswerCancel : kAnswerOk;
    std::fprintf(stderr, "%s: %s\n", utf8Caption.c_str(), utf8Text.c_str());
    AppendEventLog("{\"event\":\"message\",\"caption\":" + JsonString(utf8Caption) +
                   ",\"text\":" + JsonString(utf8Text) + ",\"type\":" + std::to_string(type) +
                   ",\"owned\":" + (owner != nullptr ? "true" : "false") +
                   ",\"answer\":" + std::to_string(answer) + "}");
    return answer;
}
