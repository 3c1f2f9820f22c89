#include "resources/version2_map.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/fixture.h"
#include "common/test_env.h"
#include "resources/handles.h"
#include "support/file_io.h"
#include "support/memory_pool.h"

namespace {

constexpr uint32_t kPict = FourCC("PICT");
constexpr uint32_t kFsTI = FourCC("FsTI");
constexpr uint32_t kAcdp = FourCC("ACDP");
constexpr size_t kOldMapTypeList = 30;  // layout 1000

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

// A layout-1000 file of three types whose runs stand out of type-list order,
// with names (one empty, one of 63 characters), attributes, handle slots and
// reserved map fields.
FixtureFile OldFile() {
    FixtureFile file;
    file.layout = 1000;
    file.mapReserved32 = 0xCAFEF00D;
    file.mapReserved16a = 0x1357;
    file.mapReserved16b = 0x2468;
    file.types = {
        {kPict, {Res(128, "alpha", Bytes(5, 1), 0x01, 0x11111111), Res(129, {}, {}, 0x80)}},
        {kFsTI, {Res(-5, "", Bytes(3, 9), 0x20)}},
        {kAcdp, {Res(1000, std::string(63, 'q'), Bytes(10, 40), 0, 7)}},
    };
    file.runOrder = {2, 0, 1};
    return file;
}

std::vector<uint8_t> MapOf(const std::vector<uint8_t> &file) {
    return std::vector<uint8_t>(file.begin() + MapOffsetOf(file), file.end());
}

class Version2MapTest : public PoolTest {
  protected:
    void SetUp() override {
        PoolTest::SetUp();
        baseline_ = MemoryPoolBlockCount();
    }
    // Builds the layout-1100 map of the file made of bytes; null when the build
    // fails.
    uint8_t *Build(const std::vector<uint8_t> &bytes) {
        WriteWholeFile(path_, bytes);
        FileHandle file = OpenFileForAccess(path_.c_str(), kOpenExisting, kGenericRead);
        EXPECT_NE(file, kInvalidFile);
        uint8_t *map = BuildVersion2Map(file);
        CloseFileHandle(file);
        return map;
    }
    // The block's bytes (as many as its map length says); the block is freed.
    static std::vector<uint8_t> Take(uint8_t *map) {
        std::vector<uint8_t> copy = Snapshot(map);
        DisposePointer(map);
        return copy;
    }
    static std::vector<uint8_t> Snapshot(const uint8_t *map) {
        uint32_t length = GetU32(std::vector<uint8_t>(map, map + 16), 12);
        return std::vector<uint8_t>(map, map + length);
    }

    std::string path_ = temp_.File("Old.rez");
    uint32_t baseline_ = 0;
};

// Without duplicates or long names the built map is the map of the same file
// laid down in layout 1100: runs in type-list order, names inline, the old
// attributes, data offsets, handle slots and reserved fields. An old map
// without types gives the 34-byte empty block.
TEST_F(Version2MapTest, MatchesLayout1100MapOfSameResources) {
    FixtureFile empty;
    empty.layout = 1000;
    empty.mapReserved32 = 77;
    empty.mapReserved16b = 5;
    for (const FixtureFile &old : {OldFile(), empty}) {
        uint8_t *map = Build(BuildResourceFile(old));
        ASSERT_NE(map, nullptr);
        FixtureFile expected = old;
        expected.layout = 1100;
        expected.runOrder.clear();
        std::vector<uint8_t> block = Take(map);
        EXPECT_EQ(block, MapOf(BuildResourceFile(expected)));
        EXPECT_TRUE(!old.types.empty() || block.size() == 34u);
    }
}

TEST_F(Version2MapTest, TypeWithoutResourcesKeepsCountMinusOne) {
    FixtureFile old;
    old.layout = 1000;
    old.types = {{kFsTI, {}}, {kPict, {Res(3, "p", Bytes(2, 0))}}};
    std::vector<uint8_t> bytes = BuildResourceFile(old);
    // The offset of a type without resources is never used, wherever it points.
    PutU16(bytes, TypeEntryOffset(bytes, 0) + 6, 0xFFFF);
    uint8_t *map = Build(bytes);
    ASSERT_NE(map, nullptr);
    uint32_t empty = FindVersion2Type(map, kFsTI);
    EXPECT_EQ(empty, 34u);
    EXPECT_EQ(FindVersion2Reference(map, empty, 3), 0u);
    std::vector<uint8_t> block = Take(map);
    ASSERT_EQ(block.size(), 34u + 20 + 78);
    EXPECT_EQ(GetI16(block, 34 + 4), -1);
    EXPECT_EQ(GetI16(block, 44 + 4), 0);
    EXPECT_EQ(GetU32(block, 44 + 6), 20u);  // the only run, right behind the type list
    EXPECT_EQ(GetU32(block, 28), block.size());
    EXPECT_EQ(GetI16(block, 32), 1);
}

// A later entry of the same type and id replaces the earlier one in its place;
// the old entry's block is no longer named. A name whose length byte says 70
// is cut to its first 63 characters.
TEST_F(Version2MapTest, LaterDuplicateReplacesEarlierEntry) {
    std::string name;
    for (int i = 0; i < 70; ++i)
        name += static_cast<char>('A' + i % 26);
    FixtureFile old;
    old.layout = 1000;
    old.longNameLengths = true;
    old.types = {{kPict,
                  {Res(1, "first", Bytes(4, 1), 0x10, 1), Res(2, {}, Bytes(2, 8)),
                   Res(1, name, Bytes(6, 20), 0x40, 2)}}};
    std::vector<uint8_t> bytes = BuildResourceFile(old);
    uint8_t *map = Build(bytes);
    ASSERT_NE(map, nullptr);
    std::vector<uint8_t> block = Take(map);
    ASSERT_EQ(block.size(), 34u + 10 + 2 * 78);
    EXPECT_EQ(GetI16(block, 34 + 4), 1);
    const size_t first = 34 + 10;
    EXPECT_EQ(GetI16(block, first), 1);
    EXPECT_EQ(block[first + 4], 63);
    EXPECT_EQ(std::string(block.begin() + first + 5, block.begin() + first + 68),
              name.substr(0, 63));
    EXPECT_EQ(block[first + 68], 0x40);
    EXPECT_EQ(GetU32(block, first + 70), DataBlockOffset(bytes, 0, 2) - 256);
    EXPECT_EQ(GetU32(block, first + 74), 2u);
    EXPECT_EQ(GetI16(block, first + 78), 2);
}

TEST_F(Version2MapTest, AddingKeepsRunsBehindTheTypeList) {
    FixtureFile none;
    none.layout = 1000;
    uint8_t *map = Build(BuildResourceFile(none));
    ASSERT_NE(map, nullptr);
    const uint32_t a = AddVersion2Type(&map, FourCC("AAAA"));
    uint32_t b = AddVersion2Type(&map, FourCC("BBBB"));
    ASSERT_EQ(a, 34u);
    ASSERT_EQ(b, 44u);
    uint32_t again = AddVersion2Type(&map, FourCC("AAAA"));
    EXPECT_EQ(again, a);
    EXPECT_EQ(Snapshot(map).size(), 54u);

    const uint8_t name[] = {2, 'h', 'i'};
    uint32_t typeA = a;
    EXPECT_EQ(AddVersion2Reference(&map, &typeA, 1, 0xAB, name), 54u);
    EXPECT_EQ(AddVersion2Reference(&map, &b, 2, 0, name), 132u);
    std::vector<uint8_t> block = Snapshot(map);
    EXPECT_EQ(GetU32(block, a + 6), 20u);
    EXPECT_EQ(GetU32(block, b + 6), 98u);
    EXPECT_EQ(GetU32(block, 28), 210u);
    EXPECT_EQ(GetU32(block, 12), 210u);
    // A fresh entry: name offset -1, the name inline, the changed attribute,
    // data offset 0 and the given handle slot.
    EXPECT_EQ(GetI16(block, 54 + 2), -1);
    EXPECT_EQ(std::string(block.begin() + 54 + 4, block.begin() + 54 + 7), "\x02hi");
    EXPECT_EQ(GetU16(block, 54 + 68), 2);
    EXPECT_EQ(GetU32(block, 54 + 70), 0u);
    EXPECT_EQ(GetU32(block, 54 + 74), 0xABu);

    // A second entry of A goes behind A's first and moves B's run.
    EXPECT_EQ(AddVersion2Reference(&map, &typeA, 3, 0, name), 132u);
    block = Snapshot(map);
    EXPECT_EQ(GetU32(block, a + 6), 20u);
    EXPECT_EQ(GetU32(block, b + 6), 176u);
    EXPECT_EQ(GetU32(block, 28), 288u);
    EXPECT_EQ(FindVersion2Reference(map, b, 2), 210u);
    EXPECT_EQ(FindVersion2Reference(map, a, 3), 132u);
    EXPECT_EQ(FindVersion2Reference(map, a, 2), 0u);
    EXPECT_EQ(FindVersion2Type(map, FourCC("BBBB")), b);
    EXPECT_EQ(FindVersion2Type(map, FourCC("CCCC")), 0u);

    ShiftReferenceOffsets(map, 176, 5);  // an offset equal to the position moves too
    block = Take(map);
    EXPECT_EQ(GetU32(block, a + 6), 20u);
    EXPECT_EQ(GetU32(block, b + 6), 181u);
}

// Maps that do not hold together give no block; the sanitizer build sees that
// nothing outside the old map is read.
TEST_F(Version2MapTest, DamagedMapGivesNothing) {
    const std::vector<uint8_t> good = BuildResourceFile(OldFile());
    const size_t map = MapOffsetOf(good);
    const uint32_t length = MapLengthOf(good);
    const size_t lastType = TypeEntryOffset(good, 2);
    // The last type's run one byte past the end of the map.
    const uint16_t lastRunTooFar = static_cast<uint16_t>(length - kOldMapTypeList - 78 * 1 + 1);
    // Sets a field of the file header and of the map's copy alike.
    auto header = [map](std::vector<uint8_t> &b, size_t field, uint32_t value) {
        PutU32(b, field, value);
        PutU32(b, map + field, value);
    };
    const std::vector<std::pair<const char *, std::function<void(std::vector<uint8_t> &)>>>
        damages = {
            {"type list past the map",
             [&](auto &b) { PutU16(b, map + 24, static_cast<uint16_t>(length - 8)); }},
            {"type count past the map", [&](auto &b) { PutI16(b, map + 28, 300); }},
            {"type count below -1", [&](auto &b) { PutI16(b, map + 28, -2); }},
            {"reference count past the map", [&](auto &b) { PutI16(b, lastType + 4, 40); }},
            {"reference count below -1", [&](auto &b) { PutI16(b, lastType + 4, -2); }},
            {"run offset outside", [&](auto &b) { PutU16(b, lastType + 6, 0xFFF0); }},
            {"run one byte too far", [&](auto &b) { PutU16(b, lastType + 6, lastRunTooFar); }},
            {"map past the end of the file", [&](auto &b) { header(b, 12, length + 1); }},
            {"map shorter than its header", [&](auto &b) { header(b, 12, 20); }},
            {"header copy differing", [&](auto &b) { PutU32(b, map + 4, 256); }},
            {"data area running into the map",
             [&](auto &b) { header(b, 8, DataLengthOf(good) + 1); }},
        };
    for (const auto &[what, damage] : damages) {
        SCOPED_TRACE(what);
        std::vector<uint8_t> bytes = good;
        damage(bytes);
        uint8_t *built = Build(bytes);
        EXPECT_EQ(built, nullptr);
        if (built != nullptr) DisposePointer(built);
        EXPECT_EQ(MemoryPoolBlockCount(), baseline_);
    }
}

TEST_F(Version2MapTest, MemoryFailureAtEveryStepGivesNothing) {
    FixtureFile old = OldFile();
    old.types[0].resources.push_back(Res(128, "again", Bytes(3, 3)));  // a replacement too
    const std::vector<uint8_t> bytes = BuildResourceFile(old);
    uint8_t *reference = Build(bytes);
    ASSERT_NE(reference, nullptr);
    const std::vector<uint8_t> expected = Take(reference);
    uint32_t n = 1;
    for (;; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        MemoryPoolFailNth(n);
        uint8_t *map = Build(bytes);
        bool fired = MemoryPoolFailureFired();
        MemoryPoolFailNth(0);
        if (!fired) {
            ASSERT_NE(map, nullptr);
            EXPECT_EQ(Take(map), expected);
            break;
        }
        EXPECT_EQ(map, nullptr);
        if (map != nullptr) DisposePointer(map);
        EXPECT_EQ(MemoryPoolBlockCount(), baseline_);
    }
    EXPECT_GT(n, 8u);
}

}  // namespace
