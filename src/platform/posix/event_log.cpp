#include "platform/posix/event_log.h"

#include <cstdio>
#include <cstdlib>

std::string JsonString(const std::string &text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

void AppendEventLog(const std::string &line) {
    const char *log = std::getenv("SKELMORA_MESSAGE_LOG");
    if (log == nullptr || log[0] == '\0') return;
    if (FILE *file = std::fopen(log, "a")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}
