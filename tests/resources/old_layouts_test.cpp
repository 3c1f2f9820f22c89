// Converting files of the two older layouts to layout 1500 when they are
// opened: the bytes of the result, the kind the file is classified as, files
// that are refused, and what a failure at any call leaves behind.
#include "resources/old_layouts.h"
#include "resources/temporary_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/resource_test.h"
#include "support/file_io.h"
#include "support/memory_pool.h"

namespace {

constexpr uint32_t kSkel = FourCC("Skel");
const char kFileName[] = "Content.rez";
const char kTemporaryName[] = "~RES0000.tmp";

// Runs out of type-list order, names of 70 and 0 characters, handle slots,
// attributes, a block bigger than one buffer, FsTI 1 twice (in layout 1000 the
// later replaces the earlier) and a repeated type.
FixtureFile OldFile(int layout) {
    FixtureFile file;
    file.layout = layout;
    file.mapReserved32 = 0x89ABCDEF;
    file.mapReserved16a = 0x0102;
    file.mapReserved16b = 0xFFEE;
    file.longNameLengths = true;
    file.types = {
        {kFsTI,
         {Res(1, "first copy", Pattern(6, 1), 0x10, 9), Res(2, "", Pattern(250000, 7), 0x80),
          Res(1, "winner", Pattern(4, 50), 0x20, 3)}},
        {kPICT, {Res(128, std::string(70, 'n'), Pattern(12, 3), 0x01, 0xDEADBEEF)}},
        {kWatr, {Res(5, "water", {})}}};
    file.runOrder = {1, 2, 0};
    if (layout == 1000) {
        file.types.push_back({kFsTI, {Res(3, "again", Pattern(2, 5))}});
        file.runOrder = {1, 2, 0, 3};
    }
    return file;
}

// What converting source must give: the data area byte for byte, each entry
// naming its old block, names cut to 63 characters (an empty one is none);
// from layout 1000 a later entry of a type and id replaces the earlier in its
// place. With closed, the handle slots are 0, as the closing write-back stores.
FixtureFile Converted(const FixtureFile &source, uint32_t kind, int layout = 1500,
                      bool closed = false) {
    const Bytes bytes = BuildResourceFile(source);
    FixtureFile out = source;  // the reserved map fields
    out.layout = layout;
    out.kind = kind;
    out.infoValues = {1, 2, 1, 65535};
    out.conversionPending = 1;
    out.types.clear();
    out.runOrder.clear();
    out.longNameLengths = false;
    out.deadData.assign(bytes.begin() + 256, bytes.begin() + 256 + DataLengthOf(bytes));
    const bool merge = source.layout == 1000;
    for (size_t t = 0; t < source.types.size(); ++t) {
        auto type = std::find_if(out.types.begin(), out.types.end(), [&](const FixtureType &x) {
            return x.type == source.types[t].type;
        });
        if (!merge || type == out.types.end())
            type = out.types.insert(out.types.end(), {source.types[t].type, {}});
        for (size_t r = 0; r < source.types[t].resources.size(); ++r) {
            FixtureResource resource = source.types[t].resources[r];
            resource.dataOffset = static_cast<uint32_t>(DataBlockOffset(bytes, t, r) - 256);
            if (resource.name && resource.name->empty()) resource.name.reset();
            if (resource.name && resource.name->size() > 63) resource.name->resize(63);
            if (closed) resource.handleSlot = 0;
            auto same = std::find_if(type->resources.begin(), type->resources.end(),
                                     [&](const FixtureResource &x) { return x.id == resource.id; });
            if (merge && same != type->resources.end()) {
                *same = resource;
            } else {
                type->resources.push_back(resource);
            }
        }
    }
    return out;
}

class OldLayoutsTest : public ResourceFileTest {
  protected:
    void SetUp() override {
        ResourceFileTest::SetUp();
        baseline_ = MemoryPoolBlockCount();
    }
    // Opens the file and closes it again; false when the open was refused.
    bool OpenOnce() {
        const uint16_t ref = Open(path_);
        EXPECT_EQ(ResourceError(), ref == kNoFile ? kFileNotUsable : kResourceOk);
        if (ref != kNoFile) CloseResourceFile(ref);
        return ref != kNoFile;
    }
    // Writes the file afresh, alone in its folder.
    void Place(const Bytes &bytes) {
        for (const std::string &name : Folder())
            std::remove(temp_.File(name).c_str());
        WriteWholeFile(path_, bytes);
    }
    std::vector<std::string> Folder() const { return ListFolder(temp_.path()); }
    void ExpectRefusedUnchanged(const Bytes &bytes) {
        Place(bytes);
        EXPECT_FALSE(OpenOnce());
        EXPECT_EQ(ReadWholeFile(path_), bytes);
        EXPECT_EQ(Folder(), std::vector<std::string>{kFileName});
        EXPECT_EQ(MemoryPoolBlockCount(), baseline_);
    }
    std::string path_ = temp_.File(kFileName);
    uint32_t baseline_ = 0;
};

// Refused without types or room for a second copy; else one open converts (over a stale temporary
// file, in pieces of one buffer) and a second changes nothing.
TEST_F(OldLayoutsTest, OldFilesBecomeLayout1500ByteForByte) {
    for (const FixtureFile &old : {OldFile(1000), OldFile(1100)}) {
        SCOPED_TRACE(old.layout);
        FixtureFile empty;
        empty.layout = old.layout;
        ExpectRefusedUnchanged(BuildResourceFile(empty));
        const Bytes bytes = BuildResourceFile(old);
        uint16_t ref;
        {
            FaultPlatform watch;
            watch.SetFreeSpace(bytes.size() - 1);
            ExpectRefusedUnchanged(bytes);
            WriteWholeFile(temp_.File(kTemporaryName), Bytes(5000, 0xEE));
            watch.SetFreeSpace(bytes.size());
            ref = Open(path_);
            for (uint32_t size : watch.ReadSizes())
                EXPECT_LE(size, kCopyChunk);
        }
        ASSERT_NE(ref, kNoFile);
        if (old.layout == 1000) {
            EXPECT_EQ(BytesOf(Get(kFsTI, 1)), Pattern(4, 50)) << "the later FsTI 1";
        }
        EXPECT_EQ(ReadWholeFile(path_), BuildResourceFile(Converted(old, kSkel)));
        CloseAll();
        const Bytes out = ReadWholeFile(path_);
        EXPECT_EQ(out, BuildResourceFile(Converted(old, kSkel, 1500, true)));
        EXPECT_EQ(Folder(), std::vector<std::string>{kFileName});
        ASSERT_TRUE(OpenOnce());
        EXPECT_EQ(ReadWholeFile(path_), out);
    }
    // The first step alone rewrites a layout-1000 file in place in layout 1100,
    // cut to end at the new (shorter) map.
    Place(BuildResourceFile(OldFile(1000)));
    ASSERT_EQ(UpgradeOldestLayout(path_.c_str()), 1);
    EXPECT_EQ(ReadWholeFile(path_), BuildResourceFile(Converted(OldFile(1000), 0, 1100)));
    Place(Bytes(300, 7));  // no resource file: refused before any step
    EXPECT_EQ(
        UpgradeOldestLayout(temp_.File("missing").c_str()) + PrepareResourceFile(path_.c_str()), 0);
}

TEST(TemporaryFiles, StandInTheFolderOfTheFile) {
    const std::pair<const char *, const char *> cases[] = {
        {"C:\\Fish\\a.rez", "C:\\Fish\\~T"}, {"C:a.rez", "C:~T"}, {"a.rez", "~T"}, {"/a", "/~T"}};
    for (const auto &[path, expected] : cases) {
        char out[32] = {};
        EXPECT_TRUE(TemporaryPathFor(path, "~T", out, sizeof out));
        EXPECT_STREQ(out, expected);
    }
    char out[8] = "#######";  // nothing is written past the capacity
    EXPECT_TRUE(TemporaryPathFor("/ab/c", "~T", out, 7) && out[7] == '\0');
    EXPECT_FALSE(TemporaryPathFor("/ab/c", "~T", out, 6));
}

// The last name of a converted map must start at an offset a signed 16-bit
// field holds: 511 names of 63 characters, one of 62 or 63, then one more at
// 0x7FFF (converted) or 0x8000 (refused). Long folders and a failed rename.
TEST_F(OldLayoutsTest, LimitsOfTheConvertedMap) {
    for (size_t last : {62, 63}) {
        FixtureFile file;
        file.layout = 1100;
        file.types = {{kFsTI, {}}};
        for (int16_t id = 0; id < 513; ++id) {
            const size_t length = id < 511 ? 63 : (id == 511 ? last : 1);
            file.types[0].resources.push_back(Res(id, std::string(length, 'a'), {1}));
        }
        Place(BuildResourceFile(file));
        EXPECT_EQ(OpenOnce(), last == 62) << last;
    }
    // A file in a folder of 240 characters still has room for its temporary file.
    const std::string folder = temp_.File(std::string(240 - temp_.path().size(), 'L'));
    std::filesystem::create_directory(folder);
    path_ = folder + "/a.rez";
    WriteWholeFile(path_, BuildResourceFile(OldFile(1100)));
    EXPECT_TRUE(OpenOnce());
    // The second step reports a converted copy that could not take the name.
    WriteWholeFile(path_, BuildResourceFile(OldFile(1100)));
    FaultPlatform fault;
    fault.FailNth(PlatformOp::Move, 1);
    EXPECT_EQ(UpgradeVersion2Layout(path_.c_str()), 0);
}

// Each failure leaves the file (as it was, in layout 1100, or converted), which
// an open and close finish, or the converted file under the temporary name.
TEST_F(OldLayoutsTest, FailureAtEveryCallLeavesAUsableFile) {
    for (int layout : {1000, 1100}) {
        SCOPED_TRACE(layout);
        const FixtureFile source = OldFile(layout);
        const Bytes original = BuildResourceFile(source);
        const Bytes converted = BuildResourceFile(Converted(source, kSkel));
        const Bytes closed = BuildResourceFile(Converted(source, kSkel, 1500, true));
        const Bytes halfway = BuildResourceFile(Converted(source, 0, 1100));  // the first step's
        uint16_t ref = kNoFile;
        ForEachFault(
            AllFaultKinds(), [&] { Place(original); }, [&] { ref = Open(path_); },
            [&](int kind, bool fired) {
                EXPECT_EQ(ResourceError(), ref == kNoFile ? kFileNotUsable : kResourceOk);
                // Free space that cannot be learned is no shortage.
                EXPECT_TRUE(kind != Op(PlatformOp::FreeSpace) || ref != kNoFile);
                CloseAll();
                EXPECT_EQ(MemoryPoolBlockCount(), baseline_);
                if (!FileExists(path_)) {
                    EXPECT_EQ(Folder(), std::vector<std::string>{kTemporaryName});
                    EXPECT_EQ(ReadWholeFile(temp_.File(kTemporaryName)), converted);
                    return;
                }
                EXPECT_EQ(Folder(), std::vector<std::string>{kFileName});
                EXPECT_TRUE(fired || ref != kNoFile);
                const Bytes now = ReadWholeFile(path_);
                EXPECT_TRUE(now == original || now == converted || now == closed || now == halfway);
                EXPECT_TRUE(OpenOnce());
                EXPECT_EQ(ReadWholeFile(path_), closed);
            });
    }
}

// Damaged old files are refused before anything is written.
TEST_F(OldLayoutsTest, DamagedOldFileIsRefusedUnchanged) {
    for (int layout : {1000, 1100}) {
        FixtureFile description = OldFile(layout);
        description.longNameLengths = false;
        const Bytes good = BuildResourceFile(description);
        const size_t map = MapOffsetOf(good);
        const uint32_t length = MapLengthOf(good);
        const bool v2 = layout == 1100;
        const size_t typeCount = map + (v2 ? 32 : 28);
        const size_t lastType = TypeEntryOffset(good, 2);
        // Offsets are 32 bits wide in layout 1100, else 16.
        auto putOffset = [v2](Bytes &b, size_t at, uint32_t value) {
            v2 ? PutU32(b, at, value) : PutU16(b, at, static_cast<uint16_t>(value));
        };
        const std::vector<std::function<void(Bytes &)>> damages = {
            [&](Bytes &b) { PutI16(b, typeCount, 200); },
            [&](Bytes &b) { PutI16(b, typeCount, -2); },
            [&](Bytes &b) { putOffset(b, map + 24, length - 4); },  // type list outside
            [&](Bytes &b) { PutI16(b, lastType + 4, 30); },
            [&](Bytes &b) { PutI16(b, lastType + 4, -2); },
            [&](Bytes &b) { putOffset(b, lastType + 6, v2 ? 0xFFFFFFF0u : 0xFFF0u); },
            [&](Bytes &b) {  // the run one byte past the map
                putOffset(b, lastType + 6, static_cast<uint32_t>(length - (v2 ? 34 : 30) - 77));
            },
            [](Bytes &b) { b.pop_back(); },
            [&](Bytes &b) { PutU32(b, map + 8, DataLengthOf(good) - 1); },  // header copy
            [&](Bytes &b) { PutU32(b, map + 4, 256); },
            [&](Bytes &b) { PutHeaderField(b, 8, DataLengthOf(good) + 1); },
            [](Bytes &b) { PutHeaderField(b, 12, 20); },
            [&](Bytes &b) { PutHeaderField(b, 12, length + 1); },
            [&](Bytes &b) { PutU32(b, ReferenceEntryOffset(good, 0, v2 ? 0 : 1) + 70, 0x800000); },
        };
        for (size_t i = 0; i < damages.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "layout " << layout << ", damage " << i);
            Bytes bytes = good;
            damages[i](bytes);
            ExpectRefusedUnchanged(bytes);
        }
        Bytes largest = good;  // the largest data offset an entry holds
        PutU32(largest, ReferenceEntryOffset(good, 0, 1) + 70, 0x7FFFFF);
        Place(largest);
        EXPECT_TRUE(OpenOnce()) << layout;
    }
}

// The kind follows from the types; the cases alternate between the two old
// layouts, and the last type of every file has no resources and still counts.
TEST_F(OldLayoutsTest, KindFollowsTheTypes) {
    const std::pair<const char *, const char *> cases[] = {
        {"FBPC FAPC FBDP FADP Watr EvDP", "SkMr"},
        {"FBPC FAPC FBDP FADP Watr", "Skel"},
        {"PLPC Watr PLDP", "Skel"},
        {"EGPC FADP FBDP PICT FAPC FBPC", "SkFs"},
        {"FBPC FAPC FBDP", "XXXX"},
        {"PLDP PLPC", "SkPl"},
        {"PLPC PLDP PICT", "XXXX"},
        {"PLPC", "XXXX"},
        {"FsTI ACPC STR# ACDP", "SkAc"},
        {"ACPC ACDP EGPP", "XXXX"},
        {"FDPC FDDP", "SkFd"},
        {"DRDP", "SkDr"},
        {"DRDP FDPC FDDP", "XXXX"},
        {"BADP BAPC", "SkGr"},
        {"FsTI STR#", "XXXX"}};
    int layout = 1000;
    for (const auto &[types, kind] : cases) {
        SCOPED_TRACE(types);
        layout = layout == 1000 ? 1100 : 1000;
        const uint32_t expected = TypeCodes(kind)[0];
        FixtureFile old;
        old.layout = layout;
        for (uint32_t type : TypeCodes(types))
            old.types.push_back({type, {Res(static_cast<int16_t>(old.types.size()), {}, {1})}});
        old.types.back().resources.clear();
        Place(BuildResourceFile(old));
        ASSERT_TRUE(OpenOnce());
        EXPECT_EQ(ResourceFileKind(path_.c_str()), expected);
        EXPECT_EQ(ReadWholeFile(path_), BuildResourceFile(Converted(old, expected)));
    }
}

}  // namespace
