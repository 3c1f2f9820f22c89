// The drive table of the POSIX stand-ins: parsing SKELMORA_DRIVES, looking up
// letters, the logical drive mask, and translating Windows paths.
#include "platform/posix/drive_table.h"

#include <gtest/gtest.h>

#include <string>

#include "common/test_env.h"

namespace {

uint32_t Bit(char letter) {
    return 1u << (letter - 'A');
}

// The translation of path through table, or "(none)" when it names no file.
std::string Translated(const DriveTable &table, const char *path) {
    std::string out = "(untouched)";
    if (!TranslatePath(table, path, &out)) {
        EXPECT_EQ(out, "(untouched)") << path;
        return "(none)";
    }
    return out;
}

TEST(DriveTable, ParsesTypesLettersAndFolders) {
    const DriveTable table = ParseDriveTable(
        "A=removable=/media/a;C=fixed=/srv/c;N=remote=/net/n;e=CDROM=/mnt/cd;R=Ramdisk=/dev/shm;"
        "X=fixed=/data/a=b c;Y=fixed=relative/folder;z=fixed=/first;Z=remote=/second");
    const std::pair<char, uint32_t> types[] = {{'A', kDriveRemovable}, {'C', kDriveFixed},
                                               {'N', kDriveRemote},    {'E', kDriveCdrom},
                                               {'e', kDriveCdrom},     {'r', kDriveRamdisk}};
    for (auto [letter, type] : types)
        EXPECT_EQ(LookupDrive(table, letter).type, type) << letter;
    EXPECT_EQ(LookupDrive(table, 'e').folder, "/mnt/cd");
    // The folder is everything behind the second equals sign.
    EXPECT_EQ(LookupDrive(table, 'X').folder, "/data/a=b c");
    EXPECT_EQ(LookupDrive(table, 'Y').folder, "relative/folder");
    // A later entry for the same letter holds.
    EXPECT_EQ(LookupDrive(table, 'Z').type, kDriveRemote);
    EXPECT_EQ(LookupDrive(table, 'Z').folder, "/second");
    EXPECT_EQ(LogicalDriveMask(table), Bit('A') | Bit('C') | Bit('N') | Bit('E') | Bit('R') |
                                           Bit('X') | Bit('Y') | Bit('Z'));
    EXPECT_EQ(LogicalDriveMask(ParseDriveTable("A=fixed=/a;z=fixed=/z")), 0x02000001u);
    // Only letters are drives.
    for (char c : {'@', '[', '`', '{', '1', ':', '\0'})
        EXPECT_EQ(LookupDrive(table, c).type, kDriveNoRootDir) << static_cast<int>(c);
    // Bad entries are ignored.
    const DriveTable bad = ParseDriveTable(
        ";;1=fixed=/one;EE=fixed=/ee;=fixed=/none;F=floppy=/f;G=fixed=;H=fixed;I;"
        " J=fixed=/j;K==/k;L=3=/l;\xC4=fixed=/x;M=cdrom=/mnt/m;M=floppy=/later;");
    EXPECT_EQ(LogicalDriveMask(bad), Bit('M'));
    EXPECT_EQ(LookupDrive(bad, 'M').folder, "/mnt/m") << "a bad later entry removes nothing";
    for (char letter : {'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L'}) {
        EXPECT_EQ(LookupDrive(bad, letter).type, kDriveNoRootDir) << letter;
        EXPECT_TRUE(LookupDrive(bad, letter).folder.empty()) << letter;
    }
    for (const char *text : {static_cast<const char *>(nullptr), "", ";", "junk"})
        EXPECT_EQ(LogicalDriveMask(ParseDriveTable(text)), 0u);
}

TEST(DriveTable, TranslatesPaths) {
    const DriveTable table =
        ParseDriveTable("E=cdrom=/mnt/cd;S=fixed=/srv/s/;R=fixed=/;W=fixed=C:\\win\\dir");
    const std::pair<const char *, const char *> cases[] = {
        {"E:\\Utility\\x.rez", "/mnt/cd/Utility/x.rez"},
        {"E:\\", "/mnt/cd/"},
        {"E:", "/mnt/cd"},
        {"E:\\.", "/mnt/cd/."},
        {"E:x.rez", "/mnt/cd/x.rez"},
        {"E:\\\\/x.rez", "/mnt/cd/x.rez"},
        {"S:\\x.rez", "/srv/s/x.rez"},
        {"S:\\", "/srv/s/"},
        {"R:\\x.rez", "/x.rez"},
        {"R:\\", "/"},
        {"W:\\a\\b", "C:/win/dir/a/b"},  // the folder's own backslashes separate too
        {"F:\\x.rez", "(none)"},         // a drive not in the table names no file
        // Plain paths only turn backslashes into slashes.
        {"/tmp/a\\b/c.rez", "/tmp/a/b/c.rez"},
        {"relative\\x.rez", "relative/x.rez"},
        {"1:\\x", "1:/x"},
        {"", ""},
    };
    for (const auto &[path, expected] : cases)
        EXPECT_EQ(Translated(table, path), expected) << path;
    EXPECT_EQ(Translated(table, nullptr), "(none)");
    EXPECT_TRUE(IsDrivePath("c:"));
    EXPECT_TRUE(IsDrivePath("Z:\\x"));
    for (const char *path : {"1:\\x", "C", "/C:/x", "", static_cast<const char *>(nullptr)})
        EXPECT_FALSE(IsDrivePath(path)) << (path ? path : "null");
}

// The calls without a table read SKELMORA_DRIVES (at every call, which the
// platform tests show).
TEST(DriveTable, TheEnvironmentGivesTheTable) {
    ScopedEnvironment drives("SKELMORA_DRIVES", "E=cdrom=/mnt/cd;f=remote=/net/f");
    EXPECT_EQ(LogicalDriveMask(), Bit('E') | Bit('F'));
    EXPECT_EQ(LookupDrive('e').type, kDriveCdrom);
    EXPECT_EQ(LookupDrive('F').folder, "/net/f");
    std::string out;
    ASSERT_TRUE(TranslatePath("E:\\Utility\\x.rez", &out));
    EXPECT_EQ(out, "/mnt/cd/Utility/x.rez");
    ScopedEnvironment unset("SKELMORA_DRIVES", nullptr);
    EXPECT_EQ(LogicalDriveMask(), 0u);
    EXPECT_FALSE(TranslatePath("C:\\x", &out));
}

}  // namespace
