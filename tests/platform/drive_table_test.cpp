// The drive table of the POSIX stand-ins: parsing SKELMORA_DRIVES, letters,
// the logical drive mask, and translating Windows paths.
#include "platform/posix/drive_table.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace {

TEST(DriveTable, ParsesEntriesAndTranslatesPaths) {
    const DriveTable table = ParseDriveTable(
        "A=removable=/media/a;c=fixed=/srv/c/;N=remote=/net/n;e=CDROM=/mnt/cd;R=RAMDISK=/;"
        "X=fixed=/data/a=b c;W=fixed=C:\\win\\dir;Z=fixed=/first;z=remote=/second");
    // The types as the Windows API numbers them, letters of either case; the
    // folder is everything behind the second '='; a later entry holds.
    const std::tuple<char, uint32_t, const char *> drives[] = {
        {'a', 2, "/media/a"}, {'C', 3, "/srv/c/"},     {'N', 4, "/net/n"}, {'E', 5, "/mnt/cd"},
        {'r', 6, "/"},        {'X', 3, "/data/a=b c"}, {'Z', 4, "/second"}};
    for (auto [letter, type, folder] : drives) {
        EXPECT_EQ(LookupDrive(table, letter).type, type) << letter;
        EXPECT_EQ(LookupDrive(table, letter).folder, folder) << letter;
    }
    EXPECT_EQ(LogicalDriveMask(table), 0x02C22015u);  // A C E N R W X Z
    // Only letters are drives; a letter not in the table has type 1.
    for (char c : {'B', '@', '[', '`', '{', '1', '\0'})
        EXPECT_EQ(LookupDrive(table, c).type, 1u) << static_cast<int>(c);
    // Bad entries are ignored, and a bad later entry removes nothing.
    const DriveTable bad = ParseDriveTable(
        ";;1=fixed=/one;EE=fixed=/ee;=fixed=/none;F=floppy=/f;G=fixed=;H=fixed;I;"
        " J=fixed=/j;K==/k;\xC4=fixed=/x;M=cdrom=/mnt/m;M=floppy=/later;");
    EXPECT_EQ(LogicalDriveMask(bad), 1u << ('M' - 'A'));
    EXPECT_EQ(LookupDrive(bad, 'M').folder, "/mnt/m");
    EXPECT_EQ(LogicalDriveMask(ParseDriveTable(nullptr)), 0u);

    const std::pair<const char *, const char *> paths[] = {
        {"E:\\Utility\\x.rez", "/mnt/cd/Utility/x.rez"},
        {"E:\\", "/mnt/cd/"},
        {"E:", "/mnt/cd"},
        {"E:x.rez", "/mnt/cd/x.rez"},
        {"e:\\\\/x.rez", "/mnt/cd/x.rez"},
        {"C:\\x.rez", "/srv/c/x.rez"},
        {"R:\\x.rez", "/x.rez"},
        {"W:\\a\\b", "C:/win/dir/a/b"},  // the folder's own backslashes separate too
        {"F:\\x.rez", "(none)"},         // a drive not in the table names no file
        {"/tmp/a\\b/c.rez", "/tmp/a/b/c.rez"},
        {"1:\\x", "1:/x"},
        {"", ""},
        {nullptr, "(none)"},
    };
    for (const auto &[path, expected] : paths) {
        std::string out = "(none)";
        EXPECT_EQ(TranslatePath(table, path, &out), std::string(expected) != "(none)") << out;
        EXPECT_EQ(out, expected) << (path ? path : "null");
    }
    EXPECT_TRUE(IsDrivePath("c:") && IsDrivePath("Z:\\x"));
    for (const char *path : {"1:\\x", "C", "/C:/x", "", static_cast<const char *>(nullptr)})
        EXPECT_FALSE(IsDrivePath(path)) << (path ? path : "null");
}

}  // namespace
