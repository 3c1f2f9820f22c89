#include "platform/posix/drive_table.h"

#include <cstdlib>
#include <string_view>
#include <utility>

namespace {

// The index of an ASCII letter of either case (A = 0), or -1.
int LetterIndex(char letter) {
    if (letter >= 'A' && letter <= 'Z') return letter - 'A';
    if (letter >= 'a' && letter <= 'z') return letter - 'a';
    return -1;
}

char AsciiLower(char c) {
    const int index = LetterIndex(c);
    return index < 0 ? c : static_cast<char>('a' + index);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

// The drive type that a type name stands for, or 0 for a name that is none.
uint32_t TypeFromName(std::string_view name) {
    struct Named {
        const char *name;
        uint32_t type;
    };
    static constexpr Named kTypes[] = {{"removable", kDriveRemovable},
                                       {"fixed", kDriveFixed},
                                       {"remote", kDriveRemote},
                                       {"cdrom", kDriveCdrom},
                                       {"ramdisk", kDriveRamdisk}};
    for (const Named &named : kTypes) {
        if (EqualsIgnoringCase(name, named.name)) return named.type;
    }
    return 0;
}

// Enters one "LETTER=TYPE=FOLDER" entry into table; anything else is ignored.
void AddEntry(std::string_view entry, DriveTable *table) {
    const size_t firstEquals = entry.find('=');
    if (firstEquals != 1) return;  // the letter part is exactly one character
    const int index = LetterIndex(entry[0]);
    if (index < 0) return;
    const size_t secondEquals = entry.find('=', firstEquals + 1);
    if (secondEquals == std::string_view::npos) return;
    const uint32_t type =
        TypeFromName(entry.substr(firstEquals + 1, secondEquals - firstEquals - 1));
    if (type == 0) return;
    // The folder is everything behind the second '=', '=' characters included.
    const std::string_view folder = entry.substr(secondEquals + 1);
    if (folder.empty()) return;
    table->drives[index].type = type;
    table->drives[index].folder.assign(folder.data(), folder.size());
}

}  // namespace

DriveTable ParseDriveTable(const char *text) {
    DriveTable table;
    if (text == nullptr) return table;
    std::string_view rest(text);
    while (!rest.empty()) {
        const size_t end = rest.find(';');
        AddEntry(rest.substr(0, end), &table);
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    return table;
}

DriveTable CurrentDriveTable() {
    return ParseDriveTable(std::getenv("SKELMORA_DRIVES"));
}

DriveEntry LookupDrive(const DriveTable &table, char letter) {
    const int index = LetterIndex(letter);
    if (index < 0) return DriveEntry();
    return table.drives[index];
}

DriveEntry LookupDrive(char letter) {
    return LookupDrive(CurrentDriveTable(), letter);
}

uint32_t LogicalDriveMask(const DriveTable &table) {
    uint32_t mask = 0;
    for (int index = 0; index < 26; ++index) {
        if (table.drives[index].type != kDriveNoRootDir) mask |= 1u << index;
    }
    return mask;
}

uint32_t LogicalDriveMask() {
    return LogicalDriveMask(CurrentDriveTable());
}

bool IsDrivePath(const char *path) {
    return path != nullptr && LetterIndex(path[0]) >= 0 && path[1] == ':';
}

bool TranslatePath(const DriveTable &table, const char *path, std::string *out) {
    if (path == nullptr) return false;
    std::string result;
    const char *rest = path;
    if (IsDrivePath(path)) {
        const DriveEntry drive = LookupDrive(table, path[0]);
        if (drive.type == kDriveNoRootDir) return false;
        rest = path + 2;
        result = drive.folder;
        if (*rest != '\0') {
            // Exactly one separator between the folder and what follows it; "E:\"
            // keeps its trailing separator.
            if (result.back() != '/' && result.back() != '\\') result += '/';
            while (*rest == '/' || *rest == '\\')
                ++rest;
        }
    }
    result += rest;
    for (char &c : result) {
        if (c == '\\') c = '/';
    }
    *out = std::move(result);
    return true;
}

bool TranslatePath(const char *path, std::string *out) {
    return TranslatePath(CurrentDriveTable(), path, out);
}
