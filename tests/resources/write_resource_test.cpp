// Writing single resources and writing a file back in place: where the bytes
// land, what a failure at any platform call or allocation leaves behind, and a
// randomised comparison of whole editing sessions against a model of the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "common/resource_test.h"
#include "resources/map_block.h"
#include "resources/open_files.h"
#include "resources/picture_image.h"
#include "support/byte_order.h"
#include "support/memory_pool.h"

namespace {

// FsTI 128 of 80 bytes, two more resources, and 7 dead bytes in front.
FixtureFile Base() {
    FixtureFile file;
    file.deadBytes = 7;
    file.deadData = Pattern(7, 1);
    file.types = {
        {kFsTI, {Res(128, "fish", Pattern(80, 2)), Res(129, std::nullopt, Pattern(30, 3), 0x20)}},
        {kSTR, {Res(1, "s", Pattern(12, 4))}},
    };
    return file;
}

// The resources of a file, attributes aside: a write in place clears those of
// entries without changes of their own, a compaction keeps them.
std::vector<FlatResource> Content(const FixtureFile &file) {
    std::vector<FlatResource> flat = FlatResources(file);
    for (FlatResource &resource : flat)
        resource.attributes = 0;
    return flat;
}

class WriteResourceTest : public ResourceFileTest {
  public:
    std::string OpenBase(const FixtureFile &file = Base()) {
        const std::string path = Write("content.rez", file);
        EXPECT_NE(Open(path), kNoFile);
        return path;
    }
    // FsTI 128 grown from 80 to 100 bytes in memory and marked changed.
    Handle GrowFish() {
        Handle h = Get(kFsTI, 128), extra = HandleWith(Pattern(20, 50));
        EXPECT_EQ(AppendHandle(extra, h), 0);
        DisposeHandle(extra);
        MarkResourceChanged(h);
        return h;
    }
    // FsTI 128 replaced by a resource of 60 bytes under the same id and name.
    Handle ShrinkFish() {
        RemoveResource(Get(kFsTI, 128));
        return Add(Pattern(60, 60), kFsTI, 128, "fish");
    }
    Handle AddNew() { return Add(Pattern(50, 5), kWnew, 5, "added"); }
    // STR 1 removed: nothing waits to be written, so a write-back goes in place.
    Handle RemoveString() {
        RemoveResource(Get(kSTR, 1));
        return nullptr;
    }
    // Writes h, or for null writes the current file back; true on success.
    static bool Act(Handle h) {
        if (h == nullptr) {
            const ResourceFileRecord *file = CurrentFileRecord();
            return WriteBackResourceFile(file->map, file->path) == 1;
        }
        WriteResource(h);
        return ResourceError() == kResourceOk;
    }
};

// Each write puts exactly its block over the old one or where the map was and
// counts its dead bytes; nothing else in front of the map changes. A write
// failed at any call leaves the file as it was and the map in memory fitting
// it, so every resource reads right and the closing write-back stores each.
TEST_F(WriteResourceTest, WritesLandWhereTheyBelongOrLeaveTheFileAsItWas) {
    FixtureFile grown = Base(), shrunk = Base(), added = Base(), removed = Base();
    Bytes &fish = grown.types[0].resources[0].data;
    const Bytes extra = Pattern(20, 50);
    fish.insert(fish.end(), extra.begin(), extra.end());
    shrunk.types[0].resources[0] = Res(128, "fish", Pattern(60, 60));
    added.types.push_back({kWnew, {Res(5, "added", Pattern(50, 5))}});
    removed.types.pop_back();
    const struct {
        const char *name;
        Handle (WriteResourceTest::*prepare)();
        FixtureFile expected;  // the file's resources after the write
        bool overOldBlock;     // else where the map was
        int32_t dead;          // the dead-bytes counter after the write
    } cases[] = {{"100 over 80", &WriteResourceTest::GrowFish, grown, false, 7 + 100},
                 {"60 over 80", &WriteResourceTest::ShrinkFish, shrunk, true, 7 + 80 + 20},
                 {"new", &WriteResourceTest::AddNew, added, false, 7},
                 {"write-back", &WriteResourceTest::RemoveString, removed, false, 7 + 12}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<FlatResource> expected = Content(c.expected);
        const std::string path = OpenBase();
        const uint32_t oldOffset = *Find(Parse(ReadWholeFile(path)), kFsTI, 128)->dataOffset;
        Handle h = (this->*c.prepare)();
        ASSERT_EQ(ResourceError(), kResourceOk);
        const Bytes before = ReadWholeFile(path);
        ASSERT_TRUE(Act(h));
        const Bytes fresh = ReadWholeFile(path);
        EXPECT_EQ(Content(Parse(fresh)), expected);
        EXPECT_EQ(Find(Parse(fresh), kFsTI, 129)->attributes, c.overOldBlock ? 0 : 0x20);
        Bytes block;
        if (h != nullptr) {
            block = Bytes(4);
            PutU32(block, 0, static_cast<uint32_t>(GetHandleSize(h)));
            block.insert(block.end(), *h, *h + GetHandleSize(h));
        }
        const size_t oldMap = MapOffsetOf(before),
                     start = c.overOldBlock ? 256 + oldOffset : oldMap;
        Bytes want(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(oldMap));
        want.resize(std::max(oldMap, start + block.size()));
        std::copy(block.begin(), block.end(), want.begin() + static_cast<std::ptrdiff_t>(start));
        PutI32(want, kDeadBytesField, c.dead);
        EXPECT_EQ(DataLengthOf(fresh), DataLengthOf(before) + (c.overOldBlock ? 0 : block.size()));
        ASSERT_GE(fresh.size(), want.size());
        EXPECT_TRUE(std::equal(want.begin() + 16, want.end(), fresh.begin() + 16));
        CloseAll();

        Handle target = nullptr;
        Bytes old;
        bool ok = false;
        ForEachFault(
            {Op(PlatformOp::Open), Op(PlatformOp::Read), Op(PlatformOp::Write),
             Op(PlatformOp::Seek), Op(PlatformOp::Size), Op(PlatformOp::Truncate),
             kAllocationFault},
            [&] {
                OpenBase();
                target = (this->*c.prepare)();
                old = ReadWholeFile(path);
            },
            [&] { ok = Act(target); },
            [&](int kind, bool fired) {
                const Bytes now = ReadWholeFile(path);
                if (!fired) {
                    EXPECT_TRUE(ok);
                    EXPECT_EQ(now, fresh);
                } else if (!ok) {
                    EXPECT_EQ(now, old);
                } else {
                    // A failed read of the old length makes the write append
                    // instead; a write that did not get through never succeeds.
                    EXPECT_TRUE(kind != Op(PlatformOp::Write) && kind != Op(PlatformOp::Truncate));
                    EXPECT_EQ(Content(Parse(now)), expected);
                }
                for (const FlatResource &resource : expected)
                    EXPECT_EQ(BytesOf(Get(resource.type, resource.id)), resource.data) << resource;
                CloseAll();
                EXPECT_EQ(Content(Parse(ReadWholeFile(path))), expected);
            });
    }
}

// A write of an unchanged Handle or of one in no map writes nothing; a changed
// resource without data is refused (-34) and left to the write-back.
TEST_F(WriteResourceTest, WritesThatTouchNothing) {
    const std::string path = OpenBase();
    const std::pair<Handle, int16_t> writes[] = {
        {Get(kFsTI, 129), kResourceOk},
        {Own(HandleWith(Pattern(4, 4)), kWnew), kResourceNotFound},
        {nullptr, kResourceNotFound},
        {Add(Bytes{}, kWnew, 3, "empty"), -34}};
    FaultPlatform platform;
    for (auto [h, error] : writes) {
        WriteResource(h);
        EXPECT_EQ(ResourceError(), error);
    }
    EXPECT_EQ(platform.Calls(PlatformOp::Open), 0u);
    CloseAll();
    FixtureFile expected = Base();
    expected.types.push_back({kWnew, {Res(3, "empty")}});
    EXPECT_EQ(FlatResources(Parse(ReadWholeFile(path))), FlatResources(expected));
}

// A file whose map has moved since it was read (10 more dead bytes in front): data that would be
// appended is refused, as the map block describes another data area; data written in place follows
// the file's own map, and the map in memory takes the file's offsets.
TEST_F(WriteResourceTest, WriteFollowsTheMapOfTheFile) {
    const std::string path = OpenBase();
    Handle grown = GrowFish(), h = Get(kFsTI, 129);
    FixtureFile moved = Base();
    moved.deadData = Pattern(17, 1);
    const Bytes image = BuildResourceFile(moved);
    WriteWholeFile(path, image);
    WriteResource(grown);
    EXPECT_EQ(ResourceError(), kDiskFull);
    EXPECT_EQ(ReadWholeFile(path), image);
    (*h)[0] = 0xFF;
    MarkResourceChanged(h);
    WriteResource(h);
    ASSERT_EQ(ResourceError(), kResourceOk);
    moved.types[0].resources[0].attributes = 0x02;  // the fish still waits in memory
    moved.types[0].resources[1] = Res(129, std::nullopt, BytesOf(h));
    EXPECT_EQ(FlatResources(Parse(ReadWholeFile(path))), FlatResources(moved));
    EXPECT_EQ(BytesOf(Get(kSTR, 1)), Pattern(12, 4));
}

// The lookup of the map block by type and id serves one write after another,
// and is made again once an entry is added.
TEST_F(WriteResourceTest, TheMapLookupLastsUntilAnEntryIsAdded) {
    OpenBase();
    ResourceFileRecord *record = FindFileRecord(CurrentResourceFile());
    for (bool adding : {false, true}) {
        MapLookupOf(record);
        if (adding) Add(Pattern(4), kWnew, 3, "new");
        const uint64_t allocations = MemoryPoolAllocationCount();
        MapLookupOf(record);
        EXPECT_EQ(MemoryPoolAllocationCount() > allocations, adding);
    }
}

// Two resources marked together and written one after the other: the first
// write stores the map with the second still marked, yet the second, which has a
// block of its own, goes over it. An added resource that reached the file's map
// the same way (marked, at offset 0) is appended all the same.
TEST_F(WriteResourceTest, MarkedEntriesOfTheStoredMapKeepTheirBlocks) {
    for (bool added : {false, true}) {
        SCOPED_TRACE(added);
        const std::string path = OpenBase();
        Handle first = Get(kFsTI, 129), second = added ? AddNew() : Get(kFsTI, 128);
        const Bytes data = BytesOf(second);
        std::fill(*first, *first + 30, 0xA1);
        MarkResourceChanged(first);
        MarkResourceChanged(second);
        WriteResource(first);
        const size_t size = ReadWholeFile(path).size();
        WriteResource(second);
        ASSERT_EQ(ResourceError(), kResourceOk);
        const Bytes image = ReadWholeFile(path);
        const FixtureFile file = Parse(image);
        EXPECT_EQ(image.size(), size + (added ? data.size() + 4 : 0));
        // An appended block counts its size as dead, as for any block that moves.
        EXPECT_EQ(GetI32(image, kDeadBytesField), 7 + (added ? 50 : 0));
        EXPECT_EQ(Find(file, kFsTI, 129)->data, Bytes(30, 0xA1));
        const FixtureResource *stored = added ? Find(file, kWnew, 5) : Find(file, kFsTI, 128);
        EXPECT_EQ(stored->data, data);
        EXPECT_EQ(*stored->dataOffset, added ? 7 + 84 + 34 + 16 : 7u);
        CloseAll();
    }
}

// A picture is stored as its bitmap file image, with the pixel offset 1078 and
// the image size and colour count recomputed, and loads back the same.
TEST_F(WriteResourceTest, PictureIsStoredAsItsBitmapImage) {
    for (const Bytes &image : {Bitmap(5, 3, 8), Bitmap(7, 2, 4)}) {
        FixtureFile file = Base();
        file.types.push_back({kPICT, {Res(200, "pic", image)}});
        const std::string path = OpenBase(file);
        Handle h = Get(kPICT, 200);
        PictureRecord record{};
        ASSERT_TRUE(ReadPictureRecord(h, &record));
        StoreU32(record.bitmap + kBitmapImageSize, 0);
        StoreU32(record.bitmap + kBitmapColoursUsed, 0);
        MarkResourceChanged(h);
        WriteResource(h);
        ASSERT_EQ(ResourceError(), kResourceOk);
        Bytes expected = image;
        PutU32(expected, 10, 1078);
        EXPECT_EQ(Find(Parse(ReadWholeFile(path)), kPICT, 200)->data, expected);
        // The write let go of the Handle; a Get loads the picture again.
        Handle again = Get(kPICT, 200);
        EXPECT_NE(again, h);
        uint32_t size = 0;
        uint8_t *restored = ImageFromPicture(again, &size);
        EXPECT_EQ(Bytes(restored, restored + size), expected);
        DisposePointer(restored);
        CloseAll();
    }
}

// Random sessions of edits, writes, write-backs and reopenings against a model of the orders a map
// keeps (types, runs, entries and names in the order they were made; an entry added again keeps its
// place) and of the data. After every step the map in memory over the file's data must parse
// strictly and hold the model; after every write the file must be exactly that image.
class Session {
  public:
    Session(WriteResourceTest *test, uint32_t seed) : test_(test), random_(seed) {}

    void Run(int steps) {
        FixtureFile file;
        file.deadBytes = Below(4) == 0 ? -50 : 0;
        file.types = {{kData, {Res(1, "one", RandomData()), Res(-2, {}, RandomData())}},
                      {kSTR, {Res(5, "five", RandomData())}}};
        for (const FixtureType &t : file.types) {
            for (const FixtureResource &r : t.resources)
                Put({t.type, r.id}, r.name, r.data, false);
        }
        path_ = test_->Write("session.rez", file);
        ref_ = test_->Open(path_);
        for (int step = 0; step < steps && !testing::Test::HasFailure(); ++step) {
            SCOPED_TRACE(testing::Message() << "step " << step);
            const uint32_t action = Below(16);
            if (action < 3) {
                Add();
            } else if (action == 3 || action == 6 || action == 7) {
                Remove();
            } else if (action < 6) {
                Change();
            } else if (action < 12) {
                Write();
            } else if (action == 13) {
                SetResourceCompaction(3);
                forced_ = true;
            } else {
                WriteBack(action != 12);
            }
            MemoryImage();
        }
        WriteBack(true);
        test_->CloseAll();
    }

  private:
    using Key = std::pair<uint32_t, int16_t>;
    struct Entry {
        Key key;
        std::optional<std::string> name;
        Bytes data;
        bool marked = false;  // changed in memory, not yet in the file
    };

    uint32_t Below(size_t n) { return static_cast<uint32_t>(random_() % n); }
    Bytes RandomData() {
        Bytes data(Below(120) == 0 ? 100001 : 1 + Below(300));  // now and then beyond one buffer
        for (uint8_t &byte : data)
            byte = static_cast<uint8_t>(random_());
        return data;
    }
    Entry *Find(const Key &key) {
        auto it = std::find_if(entries_.begin(), entries_.end(),
                               [&](const Entry &e) { return e.key == key; });
        return it == entries_.end() ? nullptr : &*it;
    }
    // A new type goes last, with its run behind all others; an entry that keeps
    // its name keeps its place in the name list, any other name goes last.
    void Put(const Key &key, const std::optional<std::string> &name, const Bytes &data,
             bool marked) {
        if (std::find(types_.begin(), types_.end(), key.first) == types_.end())
            types_.push_back(key.first);
        Entry *entry = Find(key);
        if (entry == nullptr || entry->name != name) {
            std::erase(names_, key);
            if (name) names_.push_back(key);
        }
        if (entry == nullptr) entry = &entries_.emplace_back();
        *entry = {key, name, data, marked};
    }
    // A resource the model holds, and its Handle, which must hold its data.
    std::pair<Entry *, Handle> Existing() {
        Entry *entry = &entries_[Below(entries_.size())];
        Handle h = test_->Get(entry->key.first, entry->key.second);
        EXPECT_EQ(BytesOf(h), entry->data);
        return {entry, h};
    }

    void Add() {
        const Key key{std::array{kData, kFsTI, kSTR, kWnew}[Below(4)],
                      static_cast<int16_t>(static_cast<int>(Below(12)) - 3)};
        const size_t length = Below(8) == 0 ? 255 : (Below(4) == 0 ? 0 : Below(20));
        const std::string name(length, static_cast<char>('a' + Below(26)));
        const Bytes data = RandomData();
        test_->Add(data, key.first, key.second, name);
        Put(key, name.empty() ? std::nullopt : std::optional(name), data, true);
    }
    // Removes a resource (its type too when it was the last), and two times in three adds one of at
    // most its size under the same type, id and name, as an update replaces one. The last resource
    // stays, so that the data area keeps a block for added entries to point at.
    void Remove() {
        const auto [entry, h] = Existing();
        if (entries_.size() == 1) return;
        const Entry old = *entry;
        const uint32_t length = MapLength(FindFileRecord(ref_)->map);
        const Bytes before = ReadWholeFile(path_);
        RemoveResource(h);
        ASSERT_EQ(ResourceError(), kResourceOk);
        // On disk only the dead-bytes counter changes (a negative one is replaced).
        Bytes after = ReadWholeFile(path_);
        const int32_t dead = GetI32(before, kDeadBytesField);
        EXPECT_EQ(GetI32(after, kDeadBytesField), std::max(dead, 0) + std::ssize(old.data));
        PutI32(after, kDeadBytesField, dead);
        EXPECT_EQ(after, before);
        std::erase_if(entries_, [&](const Entry &e) { return e.key == old.key; });
        std::erase(names_, old.key);
        const bool lastOfType = std::none_of(entries_.begin(), entries_.end(), [&](const Entry &e) {
            return e.key.first == old.key.first;
        });
        if (lastOfType) std::erase(types_, old.key.first);
        // The entry, its name and, with the last entry, the type entry go.
        EXPECT_EQ(MapLength(FindFileRecord(ref_)->map),
                  length - 12 - (old.name ? 1 + old.name->size() : 0) - (lastOfType ? 8 : 0));
        if (Below(3) == 0) return;
        Bytes data = RandomData();
        data.resize(1 + Below(old.data.size()));
        test_->Add(data, old.key.first, old.key.second, old.name.value_or(""));
        Put(old.key, old.name, data, true);
    }
    void Change() {
        const auto [entry, h] = Existing();
        if (Below(2) == 0) {
            for (uint8_t &byte : entry->data)
                byte = static_cast<uint8_t>(byte + 1);
            std::memcpy(*h, entry->data.data(), entry->data.size());
        } else {
            const Bytes extra = RandomData();
            Handle more = HandleWith(extra);
            ASSERT_EQ(AppendHandle(more, h), 0);
            DisposeHandle(more);
            entry->data.insert(entry->data.end(), extra.begin(), extra.end());
        }
        MarkResourceChanged(h);
        ASSERT_EQ(ResourceError(), kResourceOk);
        entry->marked = true;
    }
    void Write() {
        const auto [entry, h] = Existing();
        const bool marked = std::exchange(entry->marked, false);
        WriteResource(h);
        ASSERT_EQ(ResourceError(), kResourceOk);
        if (marked) {
            EXPECT_EQ(ReadWholeFile(path_), MemoryImage());
        }
    }
    // Forced compaction is one-shot; changes waiting in memory, and dead bytes of more than 350,000
    // or of a fifth of the file or more, call for it too. Else the file is written back in place.
    void WriteBack(bool closing) {
        const Bytes before = ReadWholeFile(path_);
        const auto dead = static_cast<uint32_t>(GetI32(before, kDeadBytesField));
        const bool marked =
            std::any_of(entries_.begin(), entries_.end(), [](const Entry &e) { return e.marked; });
        const bool compacts =
            marked || forced_ || (dead != 0 && (dead > 350000 || before.size() / dead < 5));
        if (!marked || closing) forced_ = false;
        closing ? CloseResourceFile(ref_) : UpdateResourceFile(ref_);
        EXPECT_EQ(ResourceError(), kResourceOk);
        uint32_t length = 0;  // of a compacted data area: blocks back to back
        for (Entry &e : entries_) {
            e.marked = false;
            length += 4 + static_cast<uint32_t>(e.data.size());
        }
        if (closing) ref_ = test_->Open(path_);
        const Bytes after = ReadWholeFile(path_);
        EXPECT_EQ(after, MemoryImage());
        if (compacts) {
            EXPECT_EQ(DataLengthOf(after), length);
            EXPECT_EQ(GetI32(after, kDeadBytesField), 0);
        } else {
            ASSERT_EQ(MapOffsetOf(after), MapOffsetOf(before));
            EXPECT_TRUE(std::equal(before.begin() + 16, before.begin() + MapOffsetOf(before),
                                   after.begin() + 16));
        }
    }

    // The map block in memory laid over the file's header and data area, with
    // the handle slots cleared as a file holds them.
    Bytes MemoryImage() {
        const uint8_t *map = FindFileRecord(ref_)->map;
        Bytes image = ReadWholeFile(path_);
        image.resize(MapFileMapOffset(map));
        image.insert(image.end(), map, map + MapLength(map));
        std::copy(map, map + 16, image.begin());
        const FixtureFile parsed = Parse(image);
        using Row = std::tuple<uint32_t, int16_t, std::optional<std::string>, uint8_t, Bytes>;
        std::vector<Row> rows, expected;
        for (size_t t = 0; t < parsed.types.size(); ++t) {
            for (size_t r = 0; r < parsed.types[t].resources.size(); ++r) {
                const FixtureResource &e = parsed.types[t].resources[r];
                rows.emplace_back(parsed.types[t].type, e.id, e.name, e.attributes,
                                  e.attributes != 0 ? Bytes() : e.data);
                PutU32(image, ReferenceEntryOffset(image, t, r) + 8, 0);
            }
        }
        for (uint32_t type : types_) {
            for (const Entry &e : entries_) {
                if (e.key.first == type)
                    expected.emplace_back(type, e.key.second, e.name, e.marked ? 0x02 : 0,
                                          e.marked ? Bytes() : e.data);
            }
        }
        Bytes names;
        for (const Key &key : names_) {
            const Bytes name = Str255Of(*Find(key)->name);
            names.insert(names.end(), name.begin(), name.end());
        }
        EXPECT_EQ(rows, expected);
        EXPECT_TRUE(parsed.runOrder.empty());
        EXPECT_EQ(
            Bytes(image.begin() + static_cast<std::ptrdiff_t>(NameListOffset(image)), image.end()),
            names);
        return image;
    }

    WriteResourceTest *test_;
    std::mt19937 random_;
    std::string path_;
    uint16_t ref_ = 0;
    std::vector<Entry> entries_;  // in the order of adding
    std::vector<uint32_t> types_;
    std::vector<Key> names_;
    bool forced_ = false;
};

TEST_F(WriteResourceTest, RandomSessionsMatchTheModel) {
    for (uint32_t seed = 1; seed <= 40 && !HasFailure(); ++seed) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        Session(this, seed).Run(80);
    }
}

}  // namespace
