// The drive table of the POSIX stand-ins: parsing SKELMORA_DRIVES, looking up
// letters, the logical drive mask, and translating Windows paths.
#include "platform/posix/drive_table.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

// Sets SKELMORA_DRIVES for the life of the object, then puts back what was there.
class DrivesEnvironment {
public:
    explicit DrivesEnvironment(const char *value) {
        if (const char *old = std::getenv("SKELMORA_DRIVES")) old_ = old;
        if (value != nullptr) {
            setenv("SKELMORA_DRIVES", value, 1);
        } else {
            unsetenv("SKELMORA_DRIVES");
        }
    }
    ~DrivesEnvironment() {
        if (old_) {
            setenv("SKELMORA_DRIVES", old_->c_str(), 1);
        } else {
            unsetenv("SKELMORA_DRIVES");
        }
    }

private:
    std::optional<std::string> old_;
};

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

TEST(DriveTable, ParsesEveryDriveType) {
    const DriveTable table = ParseDriveTable(
        "A=removable=/media/a;C=fixed=/srv/c;N=remote=/net/n;E=cdrom=/mnt/cd;R=ramdisk=/dev/shm");
    EXPECT_EQ(LookupDrive(table, 'A').type, kDriveRemovable);
    EXPECT_EQ(LookupDrive(table, 'C').type, kDriveFixed);
    EXPECT_EQ(LookupDrive(table, 'N').type, kDriveRemote);
    EXPECT_EQ(LookupDrive(table, 'E').type, kDriveCdrom);
    EXPECT_EQ(LookupDrive(table, 'R').type, kDriveRamdisk);
    EXPECT_EQ(LookupDrive(table, 'A').folder, "/media/a");
    EXPECT_EQ(LookupDrive(table, 'E').folder, "/mnt/cd");
    EXPECT_EQ(LookupDrive(table, 'R').folder, "/dev/shm");
    EXPECT_EQ(LogicalDriveMask(table), Bit('A') | Bit('C') | Bit('N') | Bit('E') | Bit('R'));
}

TEST(DriveTable, LettersCountInEitherCase) {
    const DriveTable table = ParseDriveTable("e=cdrom=/mnt/cd;F=fixed=/srv/f");
    for (char letter : {'e', 'E'}) {
        EXPECT_EQ(LookupDrive(table, letter).type, kDriveCdrom) << letter;
        EXPECT_EQ(LookupDrive(table, letter).folder, "/mnt/cd") << letter;
    }
    EXPECT_EQ(LookupDrive(table, 'f').type, kDriveFixed);
    EXPECT_EQ(LogicalDriveMask(table), Bit('E') | Bit('F'));
}

TEST(DriveTable, TypeNamesIgnoreCase) {
    const DriveTable table = ParseDriveTable("E=CDROM=/mnt/cd;F=Fixed=/f");
    EXPECT_EQ(LookupDrive(table, 'E').type, kDriveCdrom);
    EXPECT_EQ(LookupDrive(table, 'F').type, kDriveFixed);
}

TEST(DriveTable, BadEntriesAreIgnored) {
    const DriveTable table = ParseDriveTable(
        ";;1=fixed=/one;EE=fixed=/ee;=fixed=/none;F=floppy=/f;G=fixed=;H=fixed;I;"
        " J=fixed=/j;K==/k;L=3=/l;\xC4=fixed=/x;M=cdrom=/mnt/m;");
    EXPECT_EQ(LogicalDriveMask(table), Bit('M'));
    EXPECT_EQ(LookupDrive(table, 'M').folder, "/mnt/m");
    for (char letter : {'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L'}) {
        EXPECT_EQ(LookupDrive(table, letter).type, kDriveNoRootDir) << letter;
        EXPECT_TRUE(LookupDrive(table, letter).folder.empty()) << letter;
    }
}

TEST(DriveTable, TheFolderIsEverythingBehindTheSecondEqualsSign) {
    const DriveTable table = ParseDriveTable("X=fixed=/data/a=b c;Y=fixed=relative/folder");
    EXPECT_EQ(LookupDrive(table, 'X').folder, "/data/a=b c");
    EXPECT_EQ(LookupDrive(table, 'Y').folder, "relative/folder");
}

TEST(DriveTable, ALaterEntryForTheSameLetterHolds) {
    const DriveTable table = ParseDriveTable("E=cdrom=/first;e=fixed=/second");
    EXPECT_EQ(LookupDrive(table, 'E').type, kDriveFixed);
    EXPECT_EQ(LookupDrive(table, 'E').folder, "/second");
    // A bad later entry does not remove a good earlier one.
    const DriveTable kept = ParseDriveTable("E=cdrom=/first;E=floppy=/second");
    EXPECT_EQ(LookupDrive(kept, 'E').folder, "/first");
}

TEST(DriveTable, NoTextGivesAnEmptyTable) {
    for (const char *text : {static_cast<const char *>(nullptr), "", ";", "junk"}) {
        const DriveTable table = ParseDriveTable(text);
        EXPECT_EQ(LogicalDriveMask(table), 0u);
        EXPECT_EQ(LookupDrive(table, 'C').type, kDriveNoRootDir);
    }
}

TEST(DriveTable, MaskBitsRunFromAToZ) {
    const DriveTable table = ParseDriveTable("A=fixed=/a;z=fixed=/z");
    EXPECT_EQ(LogicalDriveMask(table), 0x02000001u);
}

TEST(DriveTable, OnlyLettersAreDrives) {
    const DriveTable table = ParseDriveTable("A=fixed=/a;Z=fixed=/z");
    for (char c : {'@', '[', '`', '{', '1', ':', '\0'}) {
        EXPECT_EQ(LookupDrive(table, c).type, kDriveNoRootDir) << static_cast<int>(c);
    }
    EXPECT_TRUE(IsDrivePath("c:"));
    EXPECT_TRUE(IsDrivePath("Z:\\x"));
    EXPECT_FALSE(IsDrivePath("1:\\x"));
    EXPECT_FALSE(IsDrivePath("C"));
    EXPECT_FALSE(IsDrivePath("/C:/x"));
    EXPECT_FALSE(IsDrivePath(""));
    EXPECT_FALSE(IsDrivePath(nullptr));
}

TEST(DriveTable, TranslatesDrivePaths) {
    const DriveTable table =
        ParseDriveTable("E=cdrom=/mnt/cd;S=fixed=/srv/s/;R=fixed=/;W=fixed=C:\\win\\dir");
    EXPECT_EQ(Translated(table, "E:\\Utility\\x.rez"), "/mnt/cd/Utility/x.rez");
    EXPECT_EQ(Translated(table, "e:/Utility/x.rez"), "/mnt/cd/Utility/x.rez");
    EXPECT_EQ(Translated(table, "E:\\"), "/mnt/cd/");
    EXPECT_EQ(Translated(table, "E:"), "/mnt/cd");
    EXPECT_EQ(Translated(table, "E:\\."), "/mnt/cd/.");
    EXPECT_EQ(Translated(table, "E:x.rez"), "/mnt/cd/x.rez");
    EXPECT_EQ(Translated(table, "E:\\\\/x.rez"), "/mnt/cd/x.rez");
    EXPECT_EQ(Translated(table, "S:\\x.rez"), "/srv/s/x.rez");
    EXPECT_EQ(Translated(table, "S:\\"), "/srv/s/");
    EXPECT_EQ(Translated(table, "R:\\x.rez"), "/x.rez");
    EXPECT_EQ(Translated(table, "R:\\"), "/");
    // The folder's own backslashes are separators as well.
    EXPECT_EQ(Translated(table, "W:\\a\\b"), "C:/win/dir/a/b");
}

TEST(DriveTable, ADriveNotInTheTableNamesNoFile) {
    const DriveTable table = ParseDriveTable("E=cdrom=/mnt/cd");
    EXPECT_EQ(Translated(table, "F:\\x.rez"), "(none)");
    EXPECT_EQ(Translated(table, "f:"), "(none)");
    EXPECT_EQ(Translated(ParseDriveTable(nullptr), "E:\\x.rez"), "(none)");
    EXPECT_EQ(Translated(table, nullptr), "(none)");
}

TEST(DriveTable, PlainPathsOnlyTurnBackslashesIntoSlashes) {
    const DriveTable table = ParseDriveTable("E=cdrom=/mnt/cd");
    EXPECT_EQ(Translated(table, "/tmp/a\\b/c.rez"), "/tmp/a/b/c.rez");
    EXPECT_EQ(Translated(table, "relative\\x.rez"), "relative/x.rez");
    EXPECT_EQ(Translated(table, "x.rez"), "x.rez");
    EXPECT_EQ(Translated(table, "1:\\x"), "1:/x");
    EXPECT_EQ(Translated(table, ""), "");
}

TEST(DriveTable, TheEnvironmentIsReadAtEveryCall) {
    {
        DrivesEnvironment drives("E=cdrom=/mnt/cd;f=remote=/net/f");
        EXPECT_EQ(LogicalDriveMask(), Bit('E') | Bit('F'));
        EXPECT_EQ(LookupDrive('e').type, kDriveCdrom);
        EXPECT_EQ(LookupDrive('F').folder, "/net/f");
        std::string out;
        ASSERT_TRUE(TranslatePath("E:\\Utility\\x.rez", &out));
        EXPECT_EQ(out, "/mnt/cd/Utility/x.rez");

        setenv("SKELMORA_DRIVES", "G=ramdisk=/ram", 1);
        EXPECT_EQ(LogicalDriveMask(), Bit('G'));
        EXPECT_EQ(LookupDrive('E').type, kDriveNoRootDir);
        EXPECT_FALSE(TranslatePath("E:\\Utility\\x.rez", &out));
        ASSERT_TRUE(TranslatePath("G:\\x", &out));
        EXPECT_EQ(out, "/ram/x");
    }
    DrivesEnvironment unset(nullptr);
    EXPECT_EQ(LogicalDriveMask(), 0u);
    std::string out;
    EXPECT_FALSE(TranslatePath("C:\\x", &out));
    ASSERT_TRUE(TranslatePath("a\\b", &out));
    EXPECT_EQ(out, "a/b");
}

}  // namespace
