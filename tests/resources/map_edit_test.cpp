// Map-block edits at the limits of the offset fields, and all-or-nothing edits when memory runs
// out. What edits make of a map is checked by the session test of write_resource_test.cpp.
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
// A type of n entries, unnamed or with names of 255 characters but the last (254).
FixtureType Many(uint32_t type, int n, bool named = false) {
    FixtureType many{type, {}};
    for (int i = 0; i < n; ++i) {
        const std::string name(i + 1 < n ? 255 : 254, 'n');
        many.resources.push_back(
            Ref(static_cast<int16_t>(i), named ? std::optional(name) : std::nullopt));
    }
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
    bool Add(uint32_t type, int16_t id, const std::string &name) {
        return AddMapEntry(&map_, type, id, 1, Str255Of(name).data());
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

// An edit that reaches the limit of an offset field is made; one that would
// pass it is refused and changes nothing.
TEST_F(MapEditTest, RefusesToPassTheLimitsOfItsOffsetFields) {
    // The name list at 30 + 8 + 12 x 5457 = 65522: one entry more takes it to 65534.
    Load(WithTypes({Many(kFsTI, 5457)}));
    EXPECT_TRUE(Add(kFsTI, 9998, "") && Refused(kFsTI, 9999, ""));
    EXPECT_TRUE(Add(kFsTI, 5, "")) << "replacing an entry needs no room";
    // The STR run at 16 + 12 x 2728 = 32752: moved by 12 it reaches 32764.
    Load(WithTypes({Many(kFsTI, 2728), {kSTR, {Ref(1, std::nullopt)}}}));
    EXPECT_TRUE(Add(kFsTI, 9998, "") && Refused(kFsTI, 9999, ""));
    EXPECT_TRUE(Add(kSTR, 2, ""));
    // A type without entries has no run to move out of reach.
    Load(WithTypes({Many(kFsTI, 2729), {kSTR, {}}}));
    EXPECT_TRUE(Add(kFsTI, 9999, "") && ValidateMapBlock(map_, MapLength(map_)));
    // A new type's run at 8 + 8 + 12 x 2729 = 32764, or 12 bytes further.
    Load(WithTypes({Many(kFsTI, 2729)}));
    EXPECT_TRUE(Add(kSTR, 1, ""));
    Load(WithTypes({Many(kFsTI, 2730)}));
    EXPECT_TRUE(Refused(kSTR, 1, ""));
    // 128 names fill the name list to 32767 bytes: a name may begin there.
    Load(WithTypes({Many(kFsTI, 128, true)}));
    EXPECT_TRUE(Add(kFsTI, 500, "x") && Refused(kFsTI, 501, "y"));
    EXPECT_TRUE(Add(kFsTI, 501, ""));
    // Renaming the last name frees its bytes first, so the new one fits.
    EXPECT_TRUE(Add(kFsTI, 500, "yz"));
    EXPECT_EQ(map_[MapLength(map_) - 1], 'z');
    uint32_t typeEntry = 0;
    Load(WithTypes({Many(kFsTI, 20, true)}));  // large enough to be edited in place
    ASSERT_TRUE(Add(kFsTI, 0, ""));            // the first renamed: the names behind it close up
    const uint8_t *last = RefName(map_, FindResource(map_, kFsTI, 19, &typeEntry));
    EXPECT_EQ(Bytes(last, last + 255), Str255Of(std::string(254, 'n')));
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
