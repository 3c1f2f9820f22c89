// The drive table of the POSIX stand-ins. A Windows path such as "E:\Utility\x.rez"
// names a file through the table in the environment variable SKELMORA_DRIVES:
// entries separated by ';', each "LETTER=TYPE=FOLDER", where LETTER is one letter
// of either case, TYPE is one of removable, fixed, remote, cdrom or ramdisk, and
// FOLDER is the POSIX folder that stands for the drive's root. An entry of any
// other shape is ignored; when a letter appears twice, the later entry holds.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

struct DriveEntry {
    // kDriveNoRootDir when the letter is not in the table; folder is then empty.
    uint32_t type = kDriveNoRootDir;
    std::string folder;
};

// One entry per letter, A to Z.
struct DriveTable {
    DriveEntry drives[26];
};

// The table that text describes; null or empty text gives an empty table.
DriveTable ParseDriveTable(const char *text);
// The table that SKELMORA_DRIVES describes now (read at every call).
DriveTable CurrentDriveTable();

// The entry of a drive letter of either case; a letter not in the table, or a
// character that is no letter, gives type kDriveNoRootDir.
DriveEntry LookupDrive(const DriveTable &table, char letter);
DriveEntry LookupDrive(char letter);

// Bit 0 for A, bit 1 for B, ... set for every letter in the table.
uint32_t LogicalDriveMask(const DriveTable &table);
uint32_t LogicalDriveMask();

// True when path starts with a drive letter and a colon.
bool IsDrivePath(const char *path);

// The POSIX path that path names: every '\' becomes '/', and a leading drive
// letter and colon are replaced by the drive's folder ("E:\Utility\x.rez" with
// E=cdrom=/mnt/cd gives "/mnt/cd/Utility/x.rez"; "E:\" gives "/mnt/cd/").
// False, with out untouched, for a null path or a drive letter not in the table.
bool TranslatePath(const DriveTable &table, const char *path, std::string *out);
bool TranslatePath(const char *path, std::string *out);
