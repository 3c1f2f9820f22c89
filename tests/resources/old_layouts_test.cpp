#include "resources/old_layouts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/fault_platform.h"
#include "common/fixture.h"
#include "common/test_env.h"
#include "resources/resource_manager.h"
#include "support/file_io.h"
#include "support/memory_pool.h"
#include "support/strings.h"

namespace {

constexpr uint32_t kSkPl = FourCC("SkPl");
constexpr uint32_t kSkel = FourCC("Skel");
constexpr uint32_t kPLPC = FourCC("PLPC");
constexpr uint32_t kPLDP = FourCC("PLDP");
constexpr uint32_t kFsTI = FourCC("FsTI");
constexpr uint32_t kPICT = FourCC("PICT");
constexpr uint32_t kWatr = FourCC("Watr");

const char kFileName[] = "Content.rez";
const char kTemporaryName[] = "~RES0000.tmp";

FixtureResource Res(int16_t id, std::optional<std::string> name, std::vector<uint8_t> data,
                    uint8_t attributes = 0, uint32_t slot = 0) {
    FixtureResource resource;
    resource.id = id;
    resource.name = std::move(name);
    resource.data = std::move(data);
    resource.attributes = attributes;
    resource.handleSlot = slot;
    return resource;
}

std::vector<uint8_t> Bytes(size_t count, uint8_t first) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

// A file of kind Skel in an old layout whose runs stand out of type-list order:
// a name of 70 characters (its length byte says 70), an empty name, handle
// slots, attributes, and FsTI 1 twice; in layout 1000 the later FsTI 1 replaces
// the earlier one, so that the converted map is shorter than the old one.
FixtureFile OldFile(int layout) {
    FixtureFile file;
    file.layout = layout;
    file.mapReserved32 = 0x89ABCDEF;
    file.mapReserved16a = 0x0102;
    file.mapReserved16b = 0xFFEE;
    file.longNameLengths = true;
    file.types = {
        {kFsTI,
         {Res(1, "first copy", Bytes(6, 1), 0x10, 9), Res(2, "", Bytes(3, 7), 0x80),
          Res(1, "winner", Bytes(4, 50), 0x20, 3)}},
        {kPICT, {Res(128, std::string(70, 'n'), Bytes(12, 3), 0x01, 0xDEADBEEF)}},
        {kWatr, {Res(5, "water", {})}},
    };
    file.runOrder = {1, 2, 0};
    return file;
}

// What converting source must give, described for the fixture writer. The
// data area is kept byte for byte, so it is given whole as dead data and every
// entry names its old block. Names are cut to 63 characters and an empty old
// name is no name. Only the step from layout 1000 merges: a later entry of the
// same type and id replaces the earlier one in its place.
FixtureFile Converted(const FixtureFile &source, uint32_t kind, int layout = 1500) {
    const std::vector<uint8_t> bytes = BuildResourceFile(source);
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
        if (!merge || type == out.types.end()) {
            out.types.push_back({source.types[t].type, {}});
            type = out.types.end() - 1;
        }
        for (size_t r = 0; r < source.types[t].resources.size(); ++r) {
            FixtureResource resource = source.types[t].resources[r];
            resource.dataOffset = static_cast<uint32_t>(DataBlockOffset(bytes, t, r) - 256);
            if (resource.name && resource.name->empty()) resource.name.reset();
            if (resource.name && resource.name->size() > 63) resource.name->resize(63);
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

// The file as it stands after it was open and closed again: the write-back
// stores every handle slot as 0.
FixtureFile Closed(FixtureFile file) {
    for (FixtureType &type : file.types) {
        for (FixtureResource &resource : type.resources)
            resource.handleSlot = 0;
    }
    return file;
}

std::vector<uint8_t> ClosedConversion(const FixtureFile &source, uint32_t kind) {
    return BuildResourceFile(Closed(Converted(source, kind)));
}

// A file's resources as the strict reader finds them.
std::vector<FlatResource> Parsed(const std::vector<uint8_t> &bytes) {
    FixtureFile file;
    std::string why;
    EXPECT_TRUE(ParseResourceFile(bytes, &file, &why)) << why;
    return FlatResources(file);
}

class OldLayoutsTest : public PoolTest {
  protected:
    void SetUp() override {
        PoolTest::SetUp();
        ASSERT_EQ(StartResourceManager(), 0);
        baseline_ = MemoryPoolBlockCount();
    }
    void TearDown() override {
        StopResourceManager();
        PoolTest::TearDown();
    }

    uint16_t Open() {
        uint8_t name[256];
        CToStr255(path_.c_str(), name);
        return OpenResourceFile(name);
    }
    // Closes ref when the open succeeded; checks ResourceError either way.
    static bool Finish(uint16_t ref) {
        int16_t error = ResourceError();
        if (ref == kNoFile) {
            EXPECT_EQ(error, kFileNotUsable);
            return false;
        }
        EXPECT_EQ(error, kResourceOk);
        CloseResourceFile(ref);
        return true;
    }
    bool OpenOnce() { return Finish(Open()); }

    // Writes the file afresh, alone in its folder.
    void Place(const std::vector<uint8_t> &bytes) {
        for (const std::string &name : ListFolder(temp_.path()))
            std::remove(temp_.File(name).c_str());
        WriteWholeFile(path_, bytes);
    }
    std::vector<std::string> Folder() const { return ListFolder(temp_.path()); }

    // Opening bytes is refused with -193 and leaves them as they were, alone.
    void ExpectRefusedUnchanged(const std::vector<uint8_t> &bytes) {
        Place(bytes);
        EXPECT_FALSE(OpenOnce());
        EXPECT_EQ(ReadWholeFile(path_), bytes);
        EXPECT_EQ(Folder(), std::vector<std::string>{kFileName});
        EXPECT_EQ(MemoryPoolBlockCount(), baseline_);
    }

    struct Attempt {
        bool opened;
        bool fired;
    };
    // The file is closed after the fault plan is gone.
    Attempt OpenWithPlatformFault(PlatformOp op, uint32_t n) {
        auto fault = std::make_unique<FaultPlatform>();
        fault->FailNth(op, n);
        uint16_t ref = Open();
        bool fired = fault->Fired();
        fault.reset();
        return {Finish(ref), fired};
    }
    Attempt OpenWithMemoryFault(uint32_t n) {
        MemoryPoolFailNth(n);
        uint16_t ref = Open();
        bool fired = MemoryPoolFailureFired();
        MemoryPoolFailNth(0);
        return {Finish(ref), fired};
    }

    // Opens source with attempt(n) for n = 1, 2, ... until its fault no longer
    // fires. Each failure leaves either the file alone in its folder (as it was,
    // half-way in layout 1100, or converted), which a plain open and close then
    // bring to what an unfaulted open and close give, or nothing under the name
    // and the complete converted file under the temporary name.
    void ForEveryFault(const FixtureFile &source, uint32_t kind,
                       const std::function<Attempt(uint32_t)> &attempt) {
        const std::vector<uint8_t> original = BuildResourceFile(source);
        const FixtureFile model = Converted(source, kind);
        const std::vector<uint8_t> converted = BuildResourceFile(model);
        const std::vector<uint8_t> closed = BuildResourceFile(Closed(model));
        for (uint32_t n = 1; n < 500; ++n) {
            SCOPED_TRACE("fault at call " + std::to_string(n));
            Place(original);
            Attempt result = attempt(n);
            EXPECT_EQ(MemoryPoolBlockCount(), baseline_);
            if (!result.fired) {
                EXPECT_TRUE(result.opened);
                EXPECT_EQ(ReadWholeFile(path_), closed);
                EXPECT_EQ(Folder(), std::vector<std::string>{kFileName});
                return;
            }
            if (!FileExists(path_)) {
                EXPECT_FALSE(result.opened);
                EXPECT_EQ(Folder(), std::vector<std::string>{kTemporaryName});
                std::vector<uint8_t> left = ReadWholeFile(temp_.File(kTemporaryName));
                EXPECT_EQ(left, converted);
                EXPECT_EQ(Parsed(left), FlatResources(model));
                continue;
            }
            EXPECT_EQ(Folder(), std::vector<std::string>{kFileName});
            std::vector<uint8_t> now = ReadWholeFile(path_);
            if (now != original && now != converted && now != closed) {
                std::string why;
                EXPECT_EQ(LayoutOf(now), 1100);
                EXPECT_TRUE(ParseResourceFile(now, nullptr, &why)) << why;
            }
            EXPECT_TRUE(OpenOnce());
            EXPECT_EQ(ReadWholeFile(path_), closed);
            if (HasFailure()) return;
        }
        ADD_FAILURE() << "the fault fires at every call";
    }

    std::string path_ = temp_.File(kFileName);
    uint32_t baseline_ = 0;
};

// A layout-1100 file of kind SkPl: names and no names, attributes, handle slots,
// reserved map fields.
FixtureFile PlantFile() {
    FixtureFile file;
    file.layout = 1100;
    file.mapReserved32 = 0xA1B2C3D4;
    file.mapReserved16a = 0x1234;
    file.mapReserved16b = 0xFEDC;
    file.types = {
        {kPLPC,
         {Res(128, "Reef", Bytes(20, 1), 0x01, 0x7777), Res(129, {}, {}, 0x80),
          Res(-3, "Kelp forest", Bytes(7, 9), 0x20, 5)}},
        {kPLDP, {Res(128, {}, Bytes(33, 40)), Res(130, "x", Bytes(1, 2), 0x10)}},
    };
    return file;
}

TEST_F(OldLayoutsTest, Layout1100FileBecomesLayout1500ByteForByte) {
    for (bool ownRuns : {false, true}) {
        SCOPED_TRACE(ownRuns ? "runs out of type-list order" : "runs in type-list order");
        FixtureFile old = PlantFile();
        if (ownRuns) old.runOrder = {1, 0};
        const std::vector<uint8_t> source = BuildResourceFile(old);
        Place(source);
        uint16_t ref = Open();
        ASSERT_NE(ref, kNoFile);
        const std::vector<uint8_t> out = ReadWholeFile(path_);
        CloseResourceFile(ref);

        FixtureFile expected = PlantFile();
        expected.layout = 1500;
        expected.kind = kSkPl;
        expected.infoValues = {1, 2, 1, 65535};
        expected.conversionPending = 1;
        ASSERT_EQ(out, BuildResourceFile(expected));
        EXPECT_EQ(ReadWholeFile(path_), BuildResourceFile(Closed(expected)));
        EXPECT_EQ(Folder(), std::vector<std::string>{kFileName});
        EXPECT_EQ(ConversionPending(path_.c_str()), 1);
        EXPECT_EQ(ResourceFileKind(path_.c_str()), kSkPl);

        // 2 types, 5 references, names "Reef", "Kelp forest" and "x".
        EXPECT_EQ(MapLengthOf(out), 30u + 16 + 60 + 19);
        EXPECT_TRUE(std::equal(source.begin() + 256, source.begin() + 256 + DataLengthOf(source),
                               out.begin() + 256));
        EXPECT_EQ(GetI16(out, TypeEntryOffset(out, 0) + 6), 16);
        EXPECT_EQ(GetI16(out, TypeEntryOffset(out, 1) + 6), 16 + 36);
        const int16_t nameOffsets[2][3] = {{0, -1, 5}, {-1, 17, 0}};
        for (size_t t = 0; t < 2; ++t) {
            for (size_t r = 0; r < old.types[t].resources.size(); ++r) {
                SCOPED_TRACE("type " + std::to_string(t) + " entry " + std::to_string(r));
                const size_t entry = ReferenceEntryOffset(out, t, r);
                EXPECT_EQ(GetI16(out, entry + 2), nameOffsets[t][r]);
                EXPECT_EQ(out[entry + 7], old.types[t].resources[r].attributes);
                EXPECT_EQ(GetU32(out, entry + 4) & 0xFFFFFF, DataBlockOffset(source, t, r) - 256);
                EXPECT_EQ(GetU32(out, entry + 8), old.types[t].resources[r].handleSlot);
            }
        }
    }
}

TEST_F(OldLayoutsTest, Layout1000FileBecomesLayout1500InOneOpen) {
    const FixtureFile old = OldFile(1000);
    Place(BuildResourceFile(old));
    uint16_t ref = Open();
    ASSERT_NE(ref, kNoFile);
    Handle winner = GetOneResource(kFsTI, 1);
    ASSERT_NE(winner, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(*winner, *winner + 4), Bytes(4, 50));
    ReleaseResource(winner);
    EXPECT_EQ(ReadWholeFile(path_), BuildResourceFile(Converted(old, kSkel)));
    CloseResourceFile(ref);

    const std::vector<uint8_t> out = ReadWholeFile(path_);
    EXPECT_EQ(out, ClosedConversion(old, kSkel));
    EXPECT_EQ(Folder(), std::vector<std::string>{kFileName});
    FixtureFile parsed;
    std::string why;
    ASSERT_TRUE(ParseResourceFile(out, &parsed, &why)) << why;
    ASSERT_EQ(parsed.types.size(), 3u);
    ASSERT_EQ(parsed.types[0].resources.size(), 2u);
    EXPECT_EQ(parsed.types[0].resources[0].name, "winner");
    EXPECT_EQ(parsed.types[0].resources[0].attributes, 0x20);
    EXPECT_EQ(parsed.types[0].resources[1].name, std::nullopt);
    EXPECT_EQ(parsed.types[1].resources[0].name, std::string(63, 'n'));
    // The replaced entry's block stays behind, unnamed.
    EXPECT_EQ(parsed.deadData, (std::vector<uint8_t>{6, 0, 0, 0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(parsed.deadBytes, 0);

    // A second open finds layout 1500 and changes nothing.
    ASSERT_TRUE(OpenOnce());
    EXPECT_EQ(ReadWholeFile(path_), out);
}

// The first step alone rewrites the file in place in layout 1100, cut to end
// at the new (shorter) map.
TEST_F(OldLayoutsTest, OldestLayoutIsRewrittenInPlace) {
    const FixtureFile old = OldFile(1000);
    const std::vector<uint8_t> source = BuildResourceFile(old);
    Place(source);
    ASSERT_EQ(UpgradeOldestLayout(path_.c_str()), 1);
    const std::vector<uint8_t> out = ReadWholeFile(path_);
    EXPECT_EQ(out, BuildResourceFile(Converted(old, 0, 1100)));
    EXPECT_LT(out.size(), source.size());
    EXPECT_EQ(Folder(), std::vector<std::string>{kFileName});

    // A map whose header copy points elsewhere is not followed there.
    std::vector<uint8_t> mismatched = source;
    PutU32(mismatched, MapOffsetOf(source) + 4, 256);
    Place(mismatched);
    EXPECT_EQ(UpgradeOldestLayout(path_.c_str()), 0);
    EXPECT_EQ(ReadWholeFile(path_), mismatched);
}

TEST_F(OldLayoutsTest, Layout1500FileIsLeftAlone) {
    FixtureFile file;
    file.kind = FourCC("SkFs");
    file.deadBytes = 3;
    file.deadData = {1, 2, 3};
    file.types = {{kPICT, {Res(1, "p", Bytes(9, 1), 0x10)}}};
    const std::vector<uint8_t> bytes = BuildResourceFile(file);
    Place(bytes);
    EXPECT_EQ(PrepareResourceFile(path_.c_str()), 1);
    ASSERT_TRUE(OpenOnce());
    EXPECT_EQ(ReadWholeFile(path_), bytes);
    EXPECT_EQ(Folder(), std::vector<std::string>{kFileName});
}

TEST_F(OldLayoutsTest, OldFileWithoutTypesIsRefused) {
    for (int layout : {1100, 1000}) {
        SCOPED_TRACE(layout);
        FixtureFile empty;
        empty.layout = layout;
        ExpectRefusedUnchanged(BuildResourceFile(empty));
        if (layout == 1100) {
            FileHandle file = OpenFileForAccess(path_.c_str(), kOpenExisting, kGenericRead);
            uint32_t kind = 0;
            EXPECT_FALSE(ClassifyFileKind(file, &kind));
            CloseFileHandle(file);
        }
    }
}

// Both old layouts need room for a second copy; without it neither is touched.
TEST_F(OldLayoutsTest, TooLittleFreeSpaceLeavesFileUnopened) {
    for (int layout : {1100, 1000}) {
        SCOPED_TRACE(layout);
        const FixtureFile old = OldFile(layout);
        const std::vector<uint8_t> bytes = BuildResourceFile(old);
        Place(bytes);
        {
            FaultPlatform fault;
            fault.SetFreeSpace(bytes.size() - 1);
            ExpectRefusedUnchanged(bytes);
        }
        {
            FaultPlatform fault;
            fault.SetFreeSpace(bytes.size());
            EXPECT_TRUE(OpenOnce());
        }
        EXPECT_EQ(ReadWholeFile(path_), ClosedConversion(old, kSkel));
    }
}

TEST_F(OldLayoutsTest, StaleTemporaryFileIsOverwritten) {
    const FixtureFile old = OldFile(1100);
    Place(BuildResourceFile(old));
    WriteWholeFile(temp_.File(kTemporaryName), std::vector<uint8_t>(5000, 0xEE));
    ASSERT_TRUE(OpenOnce());
    EXPECT_EQ(ReadWholeFile(path_), ClosedConversion(old, kSkel));
    EXPECT_EQ(Folder(), std::vector<std::string>{kFileName});
}

// The data area goes across in pieces of at most 100000 bytes.
TEST_F(OldLayoutsTest, LargeDataAreaIsCopiedInPieces) {
    FixtureFile old = PlantFile();
    old.types[1].resources[0].data = std::vector<uint8_t>(250000, 0x5A);
    old.types[1].resources[0].data.back() = 1;
    Place(BuildResourceFile(old));
    {
        FaultPlatform watch;
        ASSERT_TRUE(OpenOnce());
        for (uint32_t size : watch.ReadSizes())
            EXPECT_LE(size, kCopyChunk);
    }
    EXPECT_EQ(ReadWholeFile(path_), ClosedConversion(old, kSkPl));
}

TEST_F(OldLayoutsTest, PlatformFailureAtEveryCall) {
    const char *names[] = {"open",   "read", "write",      "seek", "close",
                           "delete", "move", "free space", "size", "truncate"};
    for (int layout : {1000, 1100}) {
        for (int op = 0; op < static_cast<int>(PlatformOp::Count); ++op) {
            SCOPED_TRACE("layout " + std::to_string(layout) + ", failing " + names[op]);
            ForEveryFault(OldFile(layout), kSkel, [&](uint32_t n) {
                return OpenWithPlatformFault(static_cast<PlatformOp>(op), n);
            });
            if (HasFailure()) return;
        }
    }
}

TEST_F(OldLayoutsTest, MemoryFailureAtEveryAllocation) {
    for (int layout : {1000, 1100}) {
        SCOPED_TRACE("layout " + std::to_string(layout));
        ForEveryFault(OldFile(layout), kSkel, [&](uint32_t n) { return OpenWithMemoryFault(n); });
    }
}

// Damaged old files are refused before anything is written, and no temporary
// file is left; the sanitizer build sees that nothing outside a buffer is read.
TEST_F(OldLayoutsTest, DamagedOldFileIsRefusedUnchanged) {
    using Damage = std::function<void(std::vector<uint8_t> &)>;
    for (int layout : {1000, 1100}) {
        FixtureFile description = OldFile(layout);
        description.longNameLengths = false;
        const std::vector<uint8_t> good = BuildResourceFile(description);
        const size_t map = MapOffsetOf(good);
        const uint32_t length = MapLengthOf(good);
        const bool v2 = layout == 1100;
        const size_t typeListField = map + 24;
        const size_t typeCountField = map + (v2 ? 32 : 28);
        const size_t lastType = TypeEntryOffset(good, 2);
        const size_t typeList = v2 ? 34 : 30;
        // Writes an offset field of the layout's width (32 bits in 1100, else 16).
        // Sets a field of the file header and of the map's copy alike.
        auto header = [map](std::vector<uint8_t> &b, size_t field, uint32_t value) {
            PutU32(b, field, value);
            PutU32(b, map + field, value);
        };
        auto putOffset = [v2](std::vector<uint8_t> &b, size_t at, uint32_t value) {
            v2 ? PutU32(b, at, value) : PutU16(b, at, static_cast<uint16_t>(value));
        };
        const std::vector<std::pair<const char *, Damage>> damages = {
            {"type count past the map", [&](auto &b) { PutI16(b, typeCountField, 200); }},
            {"type count below -1", [&](auto &b) { PutI16(b, typeCountField, -2); }},
            {"type list outside the map",
             [&](auto &b) { putOffset(b, typeListField, length - 4); }},
            {"count past the map", [&](auto &b) { PutI16(b, lastType + 4, 30); }},
            {"count below -1", [&](auto &b) { PutI16(b, lastType + 4, -2); }},
            {"run offset outside the map",
             [&](auto &b) { putOffset(b, lastType + 6, v2 ? 0xFFFFFFF0u : 0xFFF0u); }},
            {"run one byte past the map",
             [&](auto &b) {
                 putOffset(b, lastType + 6, static_cast<uint32_t>(length - typeList - 78 + 1));
             }},
            {"truncated file", [&](auto &b) { b.pop_back(); }},
            {"header copy differing", [&](auto &b) { PutU32(b, map + 8, DataLengthOf(good) - 1); }},
            {"data area running into the map",
             [&](auto &b) { header(b, 8, DataLengthOf(good) + 1); }},
            {"map shorter than its header", [&](auto &b) { header(b, 12, 20); }},
            {"map past the end of the file", [&](auto &b) { header(b, 12, length + 1); }},
            {"data offset above 0x7FFFFF",
             [&](auto &b) { PutU32(b, ReferenceEntryOffset(good, 0, 1) + 70, 0x800000); }},
        };
        for (const auto &[what, damage] : damages) {
            SCOPED_TRACE("layout " + std::to_string(layout) + ": " + what);
            std::vector<uint8_t> bytes = good;
            damage(bytes);
            ExpectRefusedUnchanged(bytes);
        }
    }
}

struct KindCase {
    const char *what;
    const char *types;  // four characters each, separated by spaces
    const char *kind;
};

constexpr KindCase kKindCases[] = {
    {"EvDP before everything", "FBPC FAPC FBDP FADP Watr EvDP", "SkMr"},
    {"Watr before fish", "FBPC FAPC FBDP FADP Watr", "Skel"},
    {"Watr with plant types", "PLPC Watr PLDP", "Skel"},
    {"four fish pictures and more", "EGPC FADP FBDP PICT FAPC FBPC", "SkFs"},
    {"three fish pictures", "FBPC FAPC FBDP", "XXXX"},
    {"plant", "PLDP PLPC", "SkPl"},
    {"plant with PICT", "PLPC PLDP PICT", "XXXX"},
    {"plant without PLDP", "PLPC", "XXXX"},
    {"accessory among unrecognised types", "FsTI ACPC STR# ACDP", "SkAc"},
    {"accessory with an egg type", "ACPC ACDP EGPP", "XXXX"},
    {"SkFd", "FDPC FDDP", "SkFd"},
    {"SkDr", "DRDP", "SkDr"},
    {"SkDr with SkFd", "DRDP FDPC FDDP", "XXXX"},
    {"SkGr", "BADP BAPC", "SkGr"},
    {"only unrecognised types", "FsTI STR#", "XXXX"},
};

// "PLPC PLDP" as types; "SkPl" as one.
std::vector<uint32_t> TypesOf(const std::string &codes) {
    std::vector<uint32_t> types;
    for (size_t at = 0; at + 4 <= codes.size(); at += 5) {
        char code[5] = {codes[at], codes[at + 1], codes[at + 2], codes[at + 3], 0};
        types.push_back(FourCC(code));
    }
    return types;
}

using ClassifyKindTest = OldLayoutsTest;

TEST_F(ClassifyKindTest, FromTypeFlags) {
    EXPECT_EQ(TypeFlag(kPICT), 0x10000u);
    EXPECT_EQ(TypeFlag(kFsTI), 0u);
    EXPECT_EQ(KindOfTypeFlags(0), FourCC("XXXX"));
    for (const KindCase &c : kKindCases) {
        SCOPED_TRACE(c.what);
        uint32_t flags = 0;
        for (uint32_t type : TypesOf(c.types))
            flags |= TypeFlag(type);
        EXPECT_EQ(KindOfTypeFlags(flags), TypesOf(c.kind)[0]);
    }
}

// The same cases through a real conversion, alternating the two old layouts.
// The last type of every file has no resources and still counts.
TEST_F(ClassifyKindTest, ThroughConversion) {
    int layout = 1000;
    for (const KindCase &c : kKindCases) {
        SCOPED_TRACE(c.what);
        layout = layout == 1000 ? 1100 : 1000;
        const std::vector<uint32_t> types = TypesOf(c.types);
        const uint32_t expected = TypesOf(c.kind)[0];
        FixtureFile old;
        old.layout = layout;
        for (size_t t = 0; t < types.size(); ++t) {
            old.types.push_back({types[t], {}});
            if (t + 1 < types.size()) {
                old.types.back().resources.push_back(Res(static_cast<int16_t>(t), {}, {1}));
            }
        }
        Place(BuildResourceFile(old));
        if (layout == 1100) {
            FileHandle file = OpenFileForAccess(path_.c_str(), kOpenExisting, kGenericRead);
            uint32_t kind = 0;
            EXPECT_TRUE(ClassifyFileKind(file, &kind));
            EXPECT_EQ(kind, expected);
            CloseFileHandle(file);
        }
        ASSERT_TRUE(OpenOnce());
        EXPECT_EQ(ResourceFileKind(path_.c_str()), expected);
        EXPECT_EQ(ReadWholeFile(path_), BuildResourceFile(Converted(old, expected)));
    }
}

}  // namespace
