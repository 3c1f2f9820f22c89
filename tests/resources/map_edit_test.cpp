// Adding and removing entries of a map block: the bytes of the block after each
// edit, the limits of its offset fields, and all-or-nothing edits when memory
// runs out. The orders a map keeps over long random sessions are checked by the
// session test of write_resource_test.cpp.
#include "resources/map_edit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/resource_test.h"
#include "resources/map_block.h"
#include "support/memory_pool.h"

namespace {

// Every map of these tests shares one data area: a block without data at offset
// 0 (where added entries point) and the block "xyz" at offset 4.
constexpr uint32_t kXyzBlock = 4;

// An entry that points at a block of the shared data area.
FixtureResource Ref(int16_t id, std::optional<std::string> name, uint32_t dataOffset = kXyzBlock,
                    uint8_t attributes = 0, uint32_t slot = 0) {
    FixtureResource resource = Res(id, std::move(name), {}, attributes, slot);
    resource.dataOffset = dataOffset;
    return resource;
}

// What AddMapEntry makes: the changed attribute, data offset 0, the slot.
FixtureResource Added(int16_t id, std::optional<std::string> name, uint32_t slot) {
    return Ref(id, std::move(name), 0, 0x02, slot);
}

FixtureFile WithTypes(std::vector<FixtureType> types) {
    FixtureFile file = Described(std::move(types));
    file.deadData = {0, 0, 0, 0, 3, 0, 0, 0, 'x', 'y', 'z'};
    return file;
}

// FsTI 128 "alpha", FsTI 129 (no name), STR 1 "s".
FixtureFile Base() {
    return WithTypes(
        {{kFsTI, {Ref(128, "alpha"), Ref(129, std::nullopt, 0)}}, {kSTR, {Ref(1, "s")}}});
}

Bytes MapBytesOf(const FixtureFile &file) {
    const Bytes bytes = BuildResourceFile(file);
    return Bytes(bytes.begin() + MapOffsetOf(bytes), bytes.end());
}

class MapEditTest : public PoolTest {
  protected:
    void TearDown() override {
        DisposePointer(map_);
        PoolTest::TearDown();
    }
    void Load(const FixtureFile &file) {
        if (map_ != nullptr) DisposePointer(map_);
        const Bytes bytes = MapBytesOf(file);
        map_ = static_cast<uint8_t *>(NewPointer(static_cast<uint32_t>(bytes.size())));
        std::memcpy(map_, bytes.data(), bytes.size());
    }
    bool Add(uint32_t type, int16_t id, const std::string &name, uint32_t slot) {
        return AddMapEntry(&map_, type, id, slot, Str255Of(name).data());
    }
    bool Remove(uint32_t type, int16_t id) {
        uint32_t typeEntry = 0;
        const uint32_t ref = FindResource(map_, type, id, &typeEntry);
        EXPECT_NE(ref, 0u);
        return ref != 0 && RemoveMapEntry(&map_, typeEntry, ref);
    }
    Bytes Block() const { return Bytes(map_, map_ + MapLength(map_)); }
    // The names of the name list, in list order.
    Bytes NameList() const { return Bytes(map_ + MapNameListOffset(map_), map_ + MapLength(map_)); }
    // The block is valid and, written out as the map of a file, parses strictly.
    FixtureFile Parsed() {
        EXPECT_TRUE(ValidateMapBlock(map_, MapLength(map_)));
        Bytes bytes = BuildResourceFile(WithTypes({}));
        bytes.resize(MapOffsetOf(bytes));
        bytes.insert(bytes.end(), map_, map_ + MapLength(map_));
        std::copy(map_, map_ + 16, bytes.begin());
        return Parse(bytes);
    }

    uint8_t *map_ = nullptr;
};

TEST_F(MapEditTest, AddingKeepsIdsInTheOrderOfAddingAndReplacesInPlace) {
    Load(WithTypes({}));
    ASSERT_TRUE(Add(kPICT, 128, "ab", 7));
    EXPECT_EQ(Block(), MapBytesOf(WithTypes({{kPICT, {Added(128, "ab", 7)}}})));

    Load(Base());
    ASSERT_TRUE(Add(kSTR, 5, "five", 11));
    ASSERT_TRUE(Add(kSTR, 3, "three", 12));
    FixtureFile expected = Base();
    expected.types[1].resources.push_back(Added(5, "five", 11));
    expected.types[1].resources.push_back(Added(3, "three", 12));
    EXPECT_EQ(Block(), MapBytesOf(expected));
    const uint32_t str = FindType(map_, kSTR);
    EXPECT_EQ(RefId(map_, RefEntryAt(map_, str, 1)), 5);
    EXPECT_EQ(RefId(map_, RefEntryAt(map_, str, 2)), 3);

    // A type without entries gets its run behind all others.
    FixtureFile base = Base();
    base.types.insert(base.types.begin(), FixtureType{kPICT, {}});
    Load(base);
    ASSERT_TRUE(Add(kPICT, 9, "", 1));
    base.types[0].resources.push_back(Added(9, std::nullopt, 1));
    base.runOrder = {1, 2, 0};
    EXPECT_EQ(Block(), MapBytesOf(base));

    Load(Base());
    const uint32_t ref = FindResource(map_, kFsTI, 128, nullptr);
    ASSERT_TRUE(Add(kFsTI, 128, "omega", 9));
    EXPECT_EQ(FindResource(map_, kFsTI, 128, nullptr), ref);
    const FixtureFile parsed = Parsed();
    ASSERT_EQ(parsed.types[0].resources.size(), 2u);
    const FixtureResource &entry = parsed.types[0].resources[0];
    EXPECT_EQ(entry.id, 128);
    EXPECT_EQ(entry.name, "omega");
    EXPECT_EQ(entry.attributes, 0x02);
    EXPECT_EQ(entry.dataOffset, 0u);
    EXPECT_EQ(entry.handleSlot, 9u);
    // The old name is gone and the new one stands at the end.
    EXPECT_EQ(NameList(), (Bytes{1, 's', 5, 'o', 'm', 'e', 'g', 'a'}));
}

TEST_F(MapEditTest, RemovingShrinksTheBlockAndTheLastEntryTakesItsType) {
    FixtureFile base = Base();
    base.types.insert(base.types.begin(), FixtureType{kPICT, {Ref(1, "p")}});
    base.types[1].resources.push_back(Ref(130, "gamma"));
    Load(base);
    // A 5-character name and its entry: 18 bytes; the other names keep their text.
    const uint32_t length = MapLength(map_);
    ASSERT_TRUE(Remove(kFsTI, 128));
    EXPECT_EQ(MapLength(map_), length - 18);
    base.types[1].resources.erase(base.types[1].resources.begin());
    EXPECT_EQ(Block(), MapBytesOf(base));
    ASSERT_TRUE(Remove(kPICT, 1));
    base.types.erase(base.types.begin());
    EXPECT_EQ(Block(), MapBytesOf(base));
    for (auto [type, id] : {std::pair{kSTR, 1}, std::pair{kFsTI, 129}, std::pair{kFsTI, 130}})
        ASSERT_TRUE(Remove(type, static_cast<int16_t>(id)));
    EXPECT_EQ(Block(), MapBytesOf(WithTypes({})));
    EXPECT_EQ(LoadI16(map_ + kMapTypeCountField), -1);

    // A file may hold a name of length 0; it takes one byte of the name list
    // and goes like any other.
    base = Base();
    base.types[0].resources[1].name = "";
    Load(base);
    ASSERT_TRUE(Remove(kFsTI, 129));
    base.types[0].resources.pop_back();
    EXPECT_EQ(Block(), MapBytesOf(base));
}

// A type of n entries, unnamed or with names of 255 characters.
FixtureType Many(uint32_t type, int n, bool named = false) {
    FixtureType many{type, {}};
    for (int i = 0; i < n; ++i) {
        many.resources.push_back(Ref(static_cast<int16_t>(i),
                                     named ? std::optional(std::string(255, 'n')) : std::nullopt,
                                     0));
    }
    return many;
}

// An edit that would pass the limit of an offset field changes nothing.
TEST_F(MapEditTest, RefusesToPassTheLimitsOfItsOffsetFields) {
    auto refused = [&](uint32_t type, int16_t id, const std::string &name) {
        const Bytes before = Block();
        return !Add(type, id, name, 1) && Block() == before;
    };
    // 30 + 8 + 12 x 5458 = 65534: one more entry would pass the name-list offset.
    Load(WithTypes({Many(kFsTI, 5458)}));
    EXPECT_TRUE(refused(kFsTI, 9999, ""));
    EXPECT_TRUE(Add(kFsTI, 5, "", 1)) << "replacing an entry needs no room";
    // The STR run begins at 16 + 12 x 2729 = 32764; moving it by 12 passes 32767.
    Load(WithTypes({Many(kFsTI, 2729), {kSTR, {Ref(1, std::nullopt, 0)}}}));
    EXPECT_TRUE(refused(kFsTI, 9999, ""));
    EXPECT_TRUE(Add(kSTR, 2, "", 1));
    // A type without entries has no run to move out of reach.
    Load(WithTypes({Many(kFsTI, 2729), {kSTR, {}}}));
    EXPECT_TRUE(Add(kFsTI, 9999, "", 1));
    EXPECT_TRUE(ValidateMapBlock(map_, MapLength(map_)));
    // A new type's run would begin at 8 + 8 + 12 x 2730 = 32776.
    Load(WithTypes({Many(kFsTI, 2730)}));
    EXPECT_TRUE(refused(kSTR, 1, ""));
    // 128 names of 255 characters fill the name list up to offset 32768.
    Load(WithTypes({Many(kFsTI, 128, true)}));
    EXPECT_TRUE(refused(kFsTI, 500, "x"));
    EXPECT_TRUE(Add(kFsTI, 500, "", 1));
    // Renaming the last name frees its bytes first, so the new one fits.
    EXPECT_TRUE(Add(kFsTI, 127, "y", 1));
    EXPECT_EQ(Parsed().types[0].resources[127].name, "y");
}

// Makes the n-th allocation of each edit fail for n = 1, 2, ...: every failure
// leaves the block, its address and the pool as they were, until the edit runs
// without a failure.
TEST_F(MapEditTest, FailedAllocationsLeaveTheBlockAsItWas) {
    Load(Base());
    const std::vector<std::function<bool()>> edits = {
        [&] { return Add(kSkFs, 1, "new", 1); }, [&] { return Add(kFsTI, 7, "seven", 2); },
        [&] { return Add(kFsTI, 128, "renamed", 3); }, [&] { return Remove(kFsTI, 128); },
        [&] { return Remove(kSkFs, 1); }};
    for (const auto &edit : edits) {
        const Bytes before = Block();
        uint8_t *const block = map_;
        const uint32_t blocks = MemoryPoolBlockCount();
        bool fired = true;
        for (uint32_t n = 1; fired && n < 100; ++n) {
            MemoryPoolFailNth(n);
            const bool done = edit();
            fired = MemoryPoolFailureFired();
            MemoryPoolFailNth(0);
            EXPECT_EQ(done, !fired) << n;
            EXPECT_TRUE(!fired || (map_ == block && Block() == before)) << n;
            EXPECT_EQ(MemoryPoolBlockCount(), blocks) << n;
            EXPECT_TRUE(fired || n > 1) << "the edit allocates";
        }
    }
    FixtureFile expected = Base();
    expected.types[0].resources.erase(expected.types[0].resources.begin());
    expected.types[0].resources.push_back(Added(7, "seven", 2));
    // The names stand in the order of the edits, so only their text is compared.
    EXPECT_EQ(DescribeFile(Parsed()), DescribeFile(Parse(BuildResourceFile(expected))));
}

}  // namespace
