#include "resources/map_edit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "common/fixture.h"
#include "common/test_env.h"
#include "resources/handles.h"
#include "resources/map_block.h"
#include "support/memory_pool.h"

namespace {

constexpr uint32_t kFsTI = FourCC("FsTI");
constexpr uint32_t kStr = FourCC("STR ");
constexpr uint32_t kSkFs = FourCC("SkFs");
constexpr uint32_t kPict = FourCC("PICT");

// Every map of these tests shares one data area: a block without data at offset
// 0 (where added entries point) and the block "xyz" at offset 4.
const std::vector<uint8_t> kDataArea = {0, 0, 0, 0, 3, 0, 0, 0, 'x', 'y', 'z'};
constexpr uint32_t kXyzBlock = 4;

FixtureResource Res(int16_t id, std::optional<std::string> name, uint32_t dataOffset = kXyzBlock,
                    uint8_t attributes = 0, uint32_t slot = 0) {
    FixtureResource resource;
    resource.id = id;
    resource.name = std::move(name);
    resource.dataOffset = dataOffset;
    resource.attributes = attributes;
    resource.handleSlot = slot;
    return resource;
}

// What AddMapEntry makes: the changed attribute, data offset 0, the slot.
FixtureResource Added(int16_t id, std::optional<std::string> name, uint32_t slot) {
    return Res(id, std::move(name), 0, 0x02, slot);
}

FixtureFile Described(std::vector<FixtureType> types) {
    FixtureFile file;
    file.deadData = kDataArea;
    file.types = std::move(types);
    return file;
}

// FsTI 128 "alpha", FsTI 129 (no name), STR 1 "s".
FixtureFile Base() {
    return Described({{kFsTI, {Res(128, "alpha", kXyzBlock, 0, 0), Res(129, std::nullopt, 0)}},
                      {kStr, {Res(1, "s")}}});
}

// A Str255 from text.
std::vector<uint8_t> Name(const std::string &text) {
    std::vector<uint8_t> name(1, static_cast<uint8_t>(text.size()));
    name.insert(name.end(), text.begin(), text.end());
    return name;
}

std::vector<uint8_t> MapBytesOf(const FixtureFile &file) {
    std::vector<uint8_t> bytes = BuildResourceFile(file);
    return std::vector<uint8_t>(bytes.begin() + MapOffsetOf(bytes), bytes.end());
}

std::vector<uint8_t> BlockBytes(const uint8_t *map) {
    return std::vector<uint8_t>(map, map + MapLength(map));
}

// The file whose data area is kDataArea and whose map is the block.
std::vector<uint8_t> FileWithMap(const uint8_t *map) {
    std::vector<uint8_t> bytes = BuildResourceFile(Described({}));
    bytes.resize(MapOffsetOf(bytes));
    bytes.insert(bytes.end(), map, map + MapLength(map));
    std::copy(map, map + 16, bytes.begin());
    return bytes;
}

class MapEditTest : public PoolTest {
  protected:
    void TearDown() override {
        if (map_ != nullptr) DisposePointer(map_);
        PoolTest::TearDown();
    }

    void Load(const FixtureFile &file) {
        if (map_ != nullptr) DisposePointer(map_);
        std::vector<uint8_t> bytes = MapBytesOf(file);
        map_ = static_cast<uint8_t *>(NewPointer(static_cast<uint32_t>(bytes.size())));
        ASSERT_NE(map_, nullptr);
        std::memcpy(map_, bytes.data(), bytes.size());
    }

    bool Add(uint32_t type, int16_t id, const std::string &name, uint32_t slot) {
        std::vector<uint8_t> str = Name(name);
        return AddMapEntry(&map_, type, id, slot, str.data());
    }

    bool Remove(uint32_t type, int16_t id) {
        uint32_t typeEntry = 0;
        uint32_t ref = FindResource(map_, type, id, &typeEntry);
        EXPECT_NE(ref, 0u);
        return ref != 0 && RemoveMapEntry(&map_, typeEntry, ref);
    }

    // The block is valid and, written out as a file, parses strictly.
    FixtureFile Parsed() {
        EXPECT_TRUE(ValidateMapBlock(map_, MapLength(map_)));
        FixtureFile parsed;
        std::string why;
        EXPECT_TRUE(ParseResourceFile(FileWithMap(map_), &parsed, &why)) << why;
        return parsed;
    }

    // The names of the name list, in list order.
    std::vector<uint8_t> NameList() const {
        return std::vector<uint8_t>(map_ + MapNameListOffset(map_), map_ + MapLength(map_));
    }

    uint8_t *map_ = nullptr;
};

TEST_F(MapEditTest, FirstEntryOfEmptyMap) {
    Load(Described({}));
    ASSERT_TRUE(Add(kPict, 128, "ab", 7));
    EXPECT_EQ(MapLength(map_), 53u);
    EXPECT_EQ(BlockBytes(map_), MapBytesOf(Described({{kPict, {Added(128, "ab", 7)}}})));
    EXPECT_EQ(Parsed().types.size(), 1u);
}

TEST_F(MapEditTest, IdsStayInOrderOfAdding) {
    Load(Base());
    ASSERT_TRUE(Add(kStr, 5, "five", 11));
    ASSERT_TRUE(Add(kStr, 3, "three", 12));
    FixtureFile expected = Base();
    expected.types[1].resources.push_back(Added(5, "five", 11));
    expected.types[1].resources.push_back(Added(3, "three", 12));
    EXPECT_EQ(BlockBytes(map_), MapBytesOf(expected));
    uint32_t str = FindType(map_, kStr);
    EXPECT_EQ(RefId(map_, RefEntryAt(map_, str, 1)), 5);
    EXPECT_EQ(RefId(map_, RefEntryAt(map_, str, 2)), 3);
}

TEST_F(MapEditTest, NewEntryMovesTheRunsBehindIt) {
    Load(Base());
    uint32_t before = MapLength(map_);
    ASSERT_TRUE(Add(kFsTI, 5, "", 3));
    FixtureFile expected = Base();
    expected.types[0].resources.push_back(Added(5, std::nullopt, 3));
    EXPECT_EQ(BlockBytes(map_), MapBytesOf(expected));
    EXPECT_EQ(MapLength(map_), before + 12);
}

TEST_F(MapEditTest, NewTypeIsListedLastAndItsRunGoesBehindAll) {
    FixtureFile base = Base();
    base.runOrder = {1, 0};
    Load(base);
    ASSERT_TRUE(Add(kSkFs, 128, "", 4));
    FixtureFile expected = base;
    expected.types.push_back({kSkFs, {Added(128, std::nullopt, 4)}});
    expected.runOrder = {1, 0, 2};
    EXPECT_EQ(BlockBytes(map_), MapBytesOf(expected));
    EXPECT_EQ(TypeOf(map_, TypeEntryAt(2)), kSkFs);
}

TEST_F(MapEditTest, TypeWithoutEntriesGetsItsRunBehindAll) {
    FixtureFile base = Base();
    base.types.insert(base.types.begin(), FixtureType{kPict, {}});
    Load(base);
    ASSERT_TRUE(Add(kPict, 9, "", 1));
    FixtureFile expected = base;
    expected.types[0].resources.push_back(Added(9, std::nullopt, 1));
    expected.runOrder = {1, 2, 0};
    EXPECT_EQ(BlockBytes(map_), MapBytesOf(expected));
}

TEST_F(MapEditTest, ReaddingAnIdReplacesTheEntryInPlace) {
    Load(Base());
    uint32_t ref = FindResource(map_, kFsTI, 128, nullptr);
    ASSERT_TRUE(Add(kFsTI, 128, "omega", 9));
    EXPECT_EQ(FindResource(map_, kFsTI, 128, nullptr), ref);
    FixtureFile parsed = Parsed();
    ASSERT_EQ(parsed.types.size(), 2u);
    ASSERT_EQ(parsed.types[0].resources.size(), 2u);
    const FixtureResource &entry = parsed.types[0].resources[0];
    EXPECT_EQ(entry.id, 128);
    EXPECT_EQ(entry.name, "omega");
    EXPECT_EQ(entry.attributes, 0x02);
    EXPECT_EQ(entry.dataOffset, 0u);
    EXPECT_EQ(entry.handleSlot, 9u);
    // The old name is gone and the new one stands at the end.
    EXPECT_EQ(NameList(), (std::vector<uint8_t>{1, 's', 5, 'o', 'm', 'e', 'g', 'a'}));

    // The same name again keeps its place; an empty one takes the name away.
    std::vector<uint8_t> before = BlockBytes(map_);
    ASSERT_TRUE(Add(kFsTI, 128, "omega", 10));
    before[ref + 8] = 10;  // only the slot changed
    EXPECT_EQ(BlockBytes(map_), before);
    ASSERT_TRUE(Add(kFsTI, 128, "", 10));
    EXPECT_EQ(RefNameOffset(map_, ref), kNoName);
    EXPECT_EQ(NameList(), (std::vector<uint8_t>{1, 's'}));
    EXPECT_EQ(Parsed().types[1].resources[0].name, "s");
}

TEST_F(MapEditTest, RemovingANamedEntryShrinksByEntryAndName) {
    FixtureFile base = Base();
    base.types[0].resources.push_back(Res(130, "gamma"));
    Load(base);
    uint32_t before = MapLength(map_);
    ASSERT_TRUE(Remove(kFsTI, 128));
    EXPECT_EQ(MapLength(map_), before - 18);
    FixtureFile expected = base;
    expected.types[0].resources.erase(expected.types[0].resources.begin());
    EXPECT_EQ(BlockBytes(map_), MapBytesOf(expected));
    FixtureFile parsed = Parsed();
    EXPECT_EQ(parsed.types[0].resources[1].name, "gamma");
    EXPECT_EQ(parsed.types[1].resources[0].name, "s");
}

TEST_F(MapEditTest, RemovingTheLastEntryOfATypeRemovesTheType) {
    FixtureFile base = Base();
    base.types.insert(base.types.begin(), FixtureType{kPict, {Res(1, "p")}});
    Load(base);
    ASSERT_TRUE(Remove(kPict, 1));
    EXPECT_EQ(BlockBytes(map_), MapBytesOf(Base()));
    ASSERT_TRUE(Remove(kStr, 1));
    ASSERT_TRUE(Remove(kFsTI, 129));
    ASSERT_TRUE(Remove(kFsTI, 128));
    EXPECT_EQ(BlockBytes(map_), MapBytesOf(Described({})));
    EXPECT_EQ(LoadI16(map_ + kMapTypeCountField), -1);
}

TEST_F(MapEditTest, AStoredEmptyNameIsRemovedLikeAnyOther) {
    // A file may hold a name of length 0; it takes one byte of the name list.
    FixtureFile base = Base();
    base.types[0].resources[1].name = "";
    Load(base);
    ASSERT_TRUE(Remove(kFsTI, 129));
    FixtureFile expected = Base();
    expected.types[0].resources.pop_back();
    EXPECT_EQ(BlockBytes(map_), MapBytesOf(expected));

    Load(base);
    ASSERT_TRUE(Add(kFsTI, 129, "", 4));
    expected = Base();
    expected.types[0].resources[1] = Added(129, std::nullopt, 4);
    EXPECT_EQ(BlockBytes(map_), MapBytesOf(expected));
}

TEST_F(MapEditTest, RemovalRefusesAnEntryOfAnotherType) {
    Load(Base());
    std::vector<uint8_t> before = BlockBytes(map_);
    uint8_t *block = map_;
    uint32_t str = FindType(map_, kStr);
    uint32_t fsti = FindType(map_, kFsTI);
    EXPECT_FALSE(RemoveMapEntry(&map_, str, RefEntryAt(map_, fsti, 1)));
    EXPECT_FALSE(RemoveMapEntry(&map_, str, RefEntryAt(map_, str, 0) + 2));
    EXPECT_FALSE(RemoveMapEntry(&map_, str + 8, RefEntryAt(map_, str, 0)));
    EXPECT_EQ(map_, block);
    EXPECT_EQ(BlockBytes(map_), before);
}

// A type of n unnamed entries.
FixtureType Many(uint32_t type, int n) {
    FixtureType many{type, {}};
    for (int i = 0; i < n; ++i)
        many.resources.push_back(Res(static_cast<int16_t>(i), std::nullopt, 0));
    return many;
}

TEST_F(MapEditTest, RefusesToPassTheNameListLimit) {
    // 30 + 8 + 12 x 5458 = 65534: one more entry would pass 65535.
    Load(Described({Many(kFsTI, 5458)}));
    std::vector<uint8_t> before = BlockBytes(map_);
    EXPECT_FALSE(Add(kFsTI, 9999, "", 1));
    EXPECT_EQ(BlockBytes(map_), before);
    // Replacing an entry needs no room.
    EXPECT_TRUE(Add(kFsTI, 5, "", 1));
}

TEST_F(MapEditTest, RefusesARunBeyondItsOffsetField) {
    // The STR run begins at 16 + 12 x 2729 = 32764; moving it by 12 passes 32767.
    Load(Described({Many(kFsTI, 2729), {kStr, {Res(1, std::nullopt, 0)}}}));
    std::vector<uint8_t> before = BlockBytes(map_);
    EXPECT_FALSE(Add(kFsTI, 9999, "", 1));
    EXPECT_EQ(BlockBytes(map_), before);
    EXPECT_TRUE(Add(kStr, 2, "", 1));

    // A new type's run would begin at 8 + 8 + 12 x 2730 = 32776.
    Load(Described({Many(kFsTI, 2730)}));
    before = BlockBytes(map_);
    EXPECT_FALSE(Add(kStr, 1, "", 1));
    EXPECT_EQ(BlockBytes(map_), before);
}

TEST_F(MapEditTest, RefusesANameBeyondItsOffsetField) {
    // 128 names of 255 characters fill the name list up to offset 32768.
    FixtureType named{kFsTI, {}};
    for (int i = 0; i < 128; ++i)
        named.resources.push_back(Res(static_cast<int16_t>(i), std::string(255, 'n'), 0));
    Load(Described({named}));
    std::vector<uint8_t> before = BlockBytes(map_);
    EXPECT_FALSE(Add(kFsTI, 500, "x", 1));
    EXPECT_EQ(BlockBytes(map_), before);
    EXPECT_TRUE(Add(kFsTI, 500, "", 1));
    // Renaming the last name frees its bytes first, so the new one fits.
    EXPECT_TRUE(Add(kFsTI, 127, "y", 1));
    EXPECT_EQ(Parsed().types[0].resources[127].name, "y");
}

// Makes the n-th allocation of edit fail for n = 1, 2, ... and checks that each
// failure leaves the block, its address and the pool as they were, until the
// edit runs without a failure.
void ExpectAllOrNothing(uint8_t **map, const std::function<bool()> &edit) {
    std::vector<uint8_t> before = BlockBytes(*map);
    uint8_t *block = *map;
    uint32_t blocks = MemoryPoolBlockCount();
    for (uint32_t n = 1; n < 100; ++n) {
        MemoryPoolFailNth(n);
        bool done = edit();
        bool fired = MemoryPoolFailureFired();
        MemoryPoolFailNth(0);
        if (!fired) {
            EXPECT_TRUE(done) << "n = " << n;
            EXPECT_GT(n, 1u);
            EXPECT_EQ(MemoryPoolBlockCount(), blocks);
            return;
        }
        EXPECT_FALSE(done) << "n = " << n;
        EXPECT_EQ(*map, block) << "n = " << n;
        EXPECT_EQ(BlockBytes(*map), before) << "n = " << n;
        EXPECT_EQ(MemoryPoolBlockCount(), blocks) << "n = " << n;
    }
    ADD_FAILURE() << "the edit never ran to the end";
}

TEST_F(MapEditTest, FailedAllocationsLeaveTheBlockAsItWas) {
    Load(Base());
    ExpectAllOrNothing(&map_, [&] { return Add(kSkFs, 1, "new", 1); });
    ExpectAllOrNothing(&map_, [&] { return Add(kFsTI, 7, "seven", 2); });
    ExpectAllOrNothing(&map_, [&] { return Add(kFsTI, 128, "renamed", 3); });
    ExpectAllOrNothing(&map_, [&] { return Remove(kFsTI, 128); });
    ExpectAllOrNothing(&map_, [&] { return Remove(kSkFs, 1); });
    FixtureFile expected = Base();
    expected.types[0].resources.erase(expected.types[0].resources.begin());
    expected.types[0].resources.push_back(Added(7, "seven", 2));
    FixtureFile built;
    ASSERT_TRUE(ParseResourceFile(BuildResourceFile(expected), &built, nullptr));
    EXPECT_EQ(DescribeFile(Parsed()), DescribeFile(built));
}

// The order the edits must keep, modelled directly: types in list order with
// their entries, the types by the place of their runs, and the names by their
// place in the name list.
struct ModelEntry {
    int16_t id;
    std::string name;  // empty: none
    uint32_t slot;
    uint8_t attributes;
    uint32_t dataOffset;
};
struct ModelType {
    uint32_t type;
    std::vector<ModelEntry> entries;
};
struct Model {
    std::vector<ModelType> types;
    std::vector<uint32_t> runs;
    std::vector<std::pair<uint32_t, int16_t>> names;

    ModelType *Type(uint32_t type) {
        for (ModelType &t : types)
            if (t.type == type) return &t;
        return nullptr;
    }
    void DropName(uint32_t type, int16_t id) {
        names.erase(std::find(names.begin(), names.end(), std::make_pair(type, id)));
    }
    void Add(uint32_t type, int16_t id, const std::string &name, uint32_t slot) {
        if (Type(type) == nullptr) {
            types.push_back({type, {}});
            runs.push_back(type);
        }
        ModelType *t = Type(type);
        for (ModelEntry &entry : t->entries) {
            if (entry.id != id) continue;
            if (entry.name != name) {
                if (!entry.name.empty()) DropName(type, id);
                if (!name.empty()) names.push_back({type, id});
            }
            entry = {id, name, slot, 0x02, 0};
            return;
        }
        t->entries.push_back({id, name, slot, 0x02, 0});
        if (!name.empty()) names.push_back({type, id});
    }
    void Remove(uint32_t type, size_t index) {
        ModelType *t = Type(type);
        if (!t->entries[index].name.empty()) DropName(type, t->entries[index].id);
        t->entries.erase(t->entries.begin() + static_cast<std::ptrdiff_t>(index));
        if (!t->entries.empty()) return;
        runs.erase(std::find(runs.begin(), runs.end(), type));
        types.erase(types.begin() + (t - types.data()));
    }
    std::string NameOf(uint32_t type, int16_t id) {
        for (const ModelEntry &entry : Type(type)->entries)
            if (entry.id == id) return entry.name;
        return {};
    }
};

void ExpectMatchesModel(const FixtureFile &parsed, const std::vector<uint8_t> &nameList,
                        Model &model) {
    ASSERT_EQ(parsed.types.size(), model.types.size());
    std::vector<size_t> runOrder;
    for (uint32_t type : model.runs) {
        size_t index = static_cast<size_t>(model.Type(type) - model.types.data());
        runOrder.push_back(index);
    }
    if (std::is_sorted(runOrder.begin(), runOrder.end())) runOrder.clear();
    EXPECT_EQ(parsed.runOrder, runOrder);
    for (size_t t = 0; t < model.types.size(); ++t) {
        const ModelType &want = model.types[t];
        const FixtureType &got = parsed.types[t];
        ASSERT_EQ(got.type, want.type);
        ASSERT_EQ(got.resources.size(), want.entries.size()) << TypeName(want.type);
        for (size_t r = 0; r < want.entries.size(); ++r) {
            const ModelEntry &entry = want.entries[r];
            const FixtureResource &resource = got.resources[r];
            EXPECT_EQ(resource.id, entry.id);
            EXPECT_EQ(resource.name.value_or(""), entry.name);
            EXPECT_EQ(resource.name.has_value(), !entry.name.empty());
            EXPECT_EQ(resource.handleSlot, entry.slot);
            EXPECT_EQ(resource.attributes, entry.attributes);
            EXPECT_EQ(resource.dataOffset, entry.dataOffset);
        }
    }
    std::vector<uint8_t> names;
    for (const auto &[type, id] : model.names) {
        std::vector<uint8_t> name = Name(model.NameOf(type, id));
        names.insert(names.end(), name.begin(), name.end());
    }
    EXPECT_EQ(nameList, names);
}

TEST_F(MapEditTest, RandomEditsKeepTheOrderOfTheModel) {
    Load(Base());
    Model model;
    model.types = {{kFsTI, {{128, "alpha", 0, 0, kXyzBlock}, {129, "", 0, 0, 0}}},
                   {kStr, {{1, "s", 0, 0, kXyzBlock}}}};
    model.runs = {kFsTI, kStr};
    model.names = {{kFsTI, 128}, {kStr, 1}};
    const uint32_t types[] = {kFsTI, kStr, kSkFs, kPict, FourCC("EggI")};

    std::mt19937 random(20240611);
    auto pick = [&](uint32_t bound) { return static_cast<uint32_t>(random() % bound); };
    for (int step = 0; step < 1500; ++step) {
        bool remove = !model.types.empty() && pick(5) < 2;
        if (remove) {
            ModelType &t = model.types[pick(static_cast<uint32_t>(model.types.size()))];
            uint32_t type = t.type;
            size_t index = pick(static_cast<uint32_t>(t.entries.size()));
            ASSERT_TRUE(Remove(type, t.entries[index].id)) << "step " << step;
            model.Remove(type, index);
        } else {
            uint32_t type = types[pick(5)];
            int16_t id = static_cast<int16_t>(static_cast<int32_t>(pick(16)) - 4);
            uint32_t length = pick(10) == 0 ? 255 : pick(9);
            std::string name(length, static_cast<char>('a' + pick(26)));
            uint32_t slot = pick(1000) + 1;
            ASSERT_TRUE(Add(type, id, name, slot)) << "step " << step;
            model.Add(type, id, name, slot);
        }
        FixtureFile parsed = Parsed();
        ASSERT_NO_FATAL_FAILURE(ExpectMatchesModel(parsed, NameList(), model)) << "step " << step;
        if (HasFailure()) break;
    }
}

}  // namespace
