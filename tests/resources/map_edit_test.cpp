// Map-block edits byte by byte, the limits of the offset fields, and
// all-or-nothing edits when memory runs out. The orders a map keeps over long
// runs of edits are checked by the session test of write_resource_test.cpp.
#include "resources/map_edit.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/resource_test.h"
#include "resources/map_block.h"
#include "support/memory_pool.h"

namespace {

// An entry pointing at offset 0 of a data area that holds one empty block;
// with a slot, as AddMapEntry makes it: marked changed.
FixtureResource Ref(int16_t id, std::optional<std::string> name, uint32_t slot = 0) {
    FixtureResource resource = Res(id, std::move(name), {}, slot != 0 ? 0x02 : 0, slot);
    resource.dataOffset = 0;
    return resource;
}
FixtureFile WithTypes(std::vector<FixtureType> types) {
    FixtureFile file = Described(std::move(types));
    file.deadData = {0, 0, 0, 0};
    return file;
}
// FsTI 128 "alpha", FsTI 129 (no name), STR 1 "s".
FixtureFile Base() {
    return WithTypes({{kFsTI, {Ref(128, "alpha"), Ref(129, std::nullopt)}}, {kSTR, {Ref(1, "s")}}});
}
Bytes MapBytesOf(const FixtureFile &file) {
    const Bytes bytes = BuildResourceFile(file);
    return Bytes(bytes.begin() + MapOffsetOf(bytes), bytes.end());
}
// A type of n entries, unnamed or with names of 255 characters.
FixtureType Many(uint32_t type, int n, bool named = false) {
    FixtureType many{type, {}};
    for (int i = 0; i < n; ++i)
        many.resources.push_back(Ref(static_cast<int16_t>(i),
                                     named ? std::optional(std::string(255, 'n')) : std::nullopt));
    return many;
}

class MapEditTest : public PoolTest {
  protected:
    void TearDown() override {
        DisposePointer(map_);
        PoolTest::TearDown();
    }
    void Load(const FixtureFile &file) {
        if (map_ != nullptr) DisposePointer(map_);
        map_ = CopyMapBlock(MapBytesOf(file).data());
    }
    bool Add(uint32_t type, int16_t id, const std::string &name, uint32_t slot = 1) {
        return AddMapEntry(&map_, type, id, slot, Str255Of(name).data());
    }
    bool Remove(uint32_t type, int16_t id) {
        uint32_t typeEntry = 0;
        const uint32_t ref = FindResource(map_, type, id, &typeEntry);
        return ref != 0 && RemoveMapEntry(&map_, typeEntry, ref);
    }
    Bytes Block() const { return Bytes(map_, map_ + MapLength(map_)); }
    // Whether Add leaves the block as it was and fails.
    bool Refused(uint32_t type, int16_t id, const std::string &name) {
        const Bytes before = Block();
        return !Add(type, id, name) && Block() == before;
    }

    uint8_t *map_ = nullptr;
};

TEST_F(MapEditTest, EditsGiveExactlyTheseBytes) {
    // Ids added 5 then 3 stand as 5, 3; the run of a type without entries goes
    // behind all others.
    FixtureFile expected = Base();
    expected.types.insert(expected.types.begin(), FixtureType{kPICT, {}});
    Load(expected);
    ASSERT_TRUE(Add(kSTR, 5, "five", 11) && Add(kSTR, 3, "three", 12) && Add(kPICT, 9, "", 7));
    expected.types[2].resources.push_back(Ref(5, "five", 11));
    expected.types[2].resources.push_back(Ref(3, "three", 12));
    expected.types[0].resources.push_back(Ref(9, std::nullopt, 7));
    expected.runOrder = {1, 2, 0};
    EXPECT_EQ(Block(), MapBytesOf(expected));
    // Re-adding an id replaces its entry in place; the new name goes last.
    const uint32_t ref = FindResource(map_, kFsTI, 128, nullptr);
    ASSERT_TRUE(Add(kFsTI, 128, "omega", 9));
    EXPECT_EQ(FindResource(map_, kFsTI, 128, nullptr), ref);
    EXPECT_EQ(LoadU32(map_ + ref + 4), 0x02000000u);
    EXPECT_EQ(RefSlot(map_, ref), 9u);
    const std::string names = "\1s\4five\5three\5omega";
    EXPECT_EQ(Bytes(map_ + MapNameListOffset(map_), map_ + MapLength(map_)), Text(names));
}

// An edit that would pass the limit of an offset field changes nothing.
TEST_F(MapEditTest, RefusesToPassTheLimitsOfItsOffsetFields) {
    // 30 + 8 + 12 x 5457 = 65522: one more entry brings the name list to
    // 65534, its largest offset, and another would pass it.
    Load(WithTypes({Many(kFsTI, 5457)}));
    EXPECT_TRUE(Add(kFsTI, 9998, ""));
    EXPECT_TRUE(Refused(kFsTI, 9999, ""));
    EXPECT_TRUE(Add(kFsTI, 5, "")) << "replacing an entry needs no room";
    // The STR run begins at 16 + 12 x 2729 = 32764; moving it by 12 passes 32767.
    Load(WithTypes({Many(kFsTI, 2729), {kSTR, {Ref(1, std::nullopt)}}}));
    EXPECT_TRUE(Refused(kFsTI, 9999, ""));
    EXPECT_TRUE(Add(kSTR, 2, ""));
    // A type without entries has no run to move out of reach.
    Load(WithTypes({Many(kFsTI, 2729), {kSTR, {}}}));
    EXPECT_TRUE(Add(kFsTI, 9999, ""));
    EXPECT_TRUE(ValidateMapBlock(map_, MapLength(map_)));
    // A new type's run would begin at 8 + 8 + 12 x 2730 = 32776.
    Load(WithTypes({Many(kFsTI, 2730)}));
    EXPECT_TRUE(Refused(kSTR, 1, ""));
    // 128 names of 255 characters fill the name list up to offset 32768.
    Load(WithTypes({Many(kFsTI, 128, true)}));
    EXPECT_TRUE(Refused(kFsTI, 500, "x"));
    EXPECT_TRUE(Add(kFsTI, 500, ""));
    // Renaming the last name frees its bytes first, so the new one fits.
    EXPECT_TRUE(Add(kFsTI, 127, "y"));
    EXPECT_EQ(map_[MapLength(map_) - 1], 'y');
}

// Makes the n-th allocation of each edit fail for n = 1, 2, ...: every failure
// leaves the block, its address and the pool as they were, until the edit runs.
TEST_F(MapEditTest, FailedAllocationsLeaveTheBlockAsItWas) {
    Load(Base());
    for (const std::function<bool()> &edit : std::vector<std::function<bool()>>{
             [&] { return Add(kSkFs, 1, "new"); }, [&] { return Add(kFsTI, 7, ""); },
             [&] { return Add(kFsTI, 128, "renamed"); }, [&] { return Remove(kFsTI, 128); },
             [&] { return Remove(kSkFs, 1); }}) {
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
    EXPECT_TRUE(ValidateMapBlock(map_, MapLength(map_)));
    EXPECT_EQ(Block(),
              MapBytesOf(WithTypes({{kFsTI, {Ref(129, std::nullopt), Ref(7, std::nullopt, 1)}},
                                    {kSTR, {Ref(1, "s")}}})));
}

}  // namespace
