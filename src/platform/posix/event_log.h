// The log of the POSIX stand-ins for what a Windows user would see: message
// boxes and cursor changes. When SKELMORA_MESSAGE_LOG names a file, each event
// is appended to it as one JSON object on one line.
#pragma once

#include <string>

// text as a JSON string literal, quotes included.
std::string JsonString(const std::string &text);
// Appends one line (an object without the newline) to the log, if there is one.
void AppendEventLog(const std::string &line);
