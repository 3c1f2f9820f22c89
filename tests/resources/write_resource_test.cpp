// Writing single resources and writing a file back in place: where the bytes
// land, what a failure at any platform call or allocation leaves behind, and a
// randomised comparison of whole editing sessions against a model of the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "common/fault_platform.h"
#include "common/resource_test.h"
#include "resources/map_block.h"
#include "resources/open_files.h"
#include "resources/picture_image.h"
#include "support/byte_order.h"
#include "support/memory_pool.h"

namespace {

// FsTI 128 of 80 bytes, two more resources, and 7 dead bytes in front.
FixtureFile Base(int32_t deadBytes = 7) {
    FixtureFile file;
    file.deadBytes = deadBytes;
    file.deadData = Pattern(7, 1);
    file.types = {
        {kFsTI, {Res(128, "fish", Pattern(80, 2), 0x20), Res(129, std::nullopt, Pattern(30, 3))}},
        {kSTR, {Res(1, "s", Pattern(12, 4))}},
    };
    return file;
}

bool SameBytes(const Bytes &a, const Bytes &b, size_t from, size_t to) {
    return to <= a.size() && to <= b.size() &&
           std::equal(a.begin() + from, a.begin() + to, b.begin() + from);
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
        Handle h = Get(kFsTI, 128);
        Handle extra = HandleWith(Pattern(20, 50));
        EXPECT_EQ(AppendHandle(extra, h), 0);
        DisposeHandle(extra);
        MarkResourceChanged(h);
        EXPECT_EQ(ResourceError(), kResourceOk);
        return h;
    }
    // FsTI 128 replaced by a resource of 60 bytes under the same id and name.
    Handle ShrinkFish() {
        RemoveResource(Get(kFsTI, 128));
        EXPECT_EQ(ResourceError(), kResourceOk);
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
        if (h != nullptr) {
            WriteResource(h);
            return ResourceError() == kResourceOk;
        }
        const ResourceFileRecord *file = CurrentFileRecord();
        return WriteBackResourceFile(file->map, file->path) == 1;
    }

    struct WriteCase {
        const char *name;
        Handle (WriteResourceTest::*prepare)();
        FixtureFile expected;  // the file's resources after the write
        bool overOldBlock;     // else behind the data area (or no data, for a write-back)
        int32_t dead;          // the dead-bytes counter after the write
    };
    // 100 bytes over 80, 60 over 80, a new resource, and an in-place write-back.
    static std::vector<WriteCase> Cases() {
        FixtureFile grown = Base(), shrunk = Base(), added = Base(), removed = Base();
        Bytes &fish = grown.types[0].resources[0].data;
        const Bytes extra = Pattern(20, 50);
        fish.insert(fish.end(), extra.begin(), extra.end());
        shrunk.types[0].resources[0] = Res(128, "fish", Pattern(60, 60));
        added.types.push_back({kWnew, {Res(5, "added", Pattern(50, 5))}});
        removed.types.pop_back();
        return {{"append", &WriteResourceTest::GrowFish, grown, false, 7 + 100},
                {"in place", &WriteResourceTest::ShrinkFish, shrunk, true, 7 + 80 + 20},
                {"new", &WriteResourceTest::AddNew, added, false, 7},
                {"write-back", &WriteResourceTest::RemoveString, removed, false, 7 + 12}};
    }
};

// Without a fault each write puts exactly its block where it belongs and leaves
// every other byte of the data area alone. Then for each fault (the n-th call
// of a kind, every size query from the n-th on, the n-th allocation) for n = 1,
// 2, ... until it no longer fires: a failed write reports failure and leaves
// the file as it was, and the map in memory still fits the file: every
// resource is read right, and the write-back at closing stores each as it should.
TEST_F(WriteResourceTest, WritesLandWhereTheyBelongOrLeaveTheFileAsItWas) {
    struct Fault {
        std::string name;
        PlatformOp op;  // Count: an allocation
        bool persistent;
    };
    std::vector<Fault> faults = {{"every size query", PlatformOp::Size, true},
                                 {"allocation", PlatformOp::Count, false}};
    for (PlatformOp op : {PlatformOp::Open, PlatformOp::Read, PlatformOp::Write, PlatformOp::Seek,
                          PlatformOp::Size, PlatformOp::Truncate})
        faults.push_back({PlatformOpName(op), op, false});

    for (const WriteCase &c : Cases()) {
        SCOPED_TRACE(c.name);
        const std::vector<FlatResource> expected = FlatResources(c.expected);
        const std::string path = OpenBase();
        const uint32_t oldOffset = *Find(Parse(ReadWholeFile(path)), kFsTI, 128)->dataOffset;
        Handle h = (this->*c.prepare)();
        const Bytes before = ReadWholeFile(path);
        ASSERT_TRUE(Act(h));
        const Bytes fresh = ReadWholeFile(path);
        const FixtureFile parsed = Parse(fresh);
        EXPECT_EQ(FlatResources(parsed), expected);
        EXPECT_EQ(parsed.deadBytes, c.dead);
        const size_t oldMap = MapOffsetOf(before);
        const size_t start = c.overOldBlock ? 256 + oldOffset : oldMap;
        // The block written: the byte count and the data.
        Bytes block;
        if (h != nullptr) {
            const Bytes data = BytesOf(h);
            block = Bytes(4);
            PutU32(block, 0, static_cast<uint32_t>(data.size()));
            block.insert(block.end(), data.begin(), data.end());
        }
        EXPECT_EQ(DataLengthOf(fresh), DataLengthOf(before) + (c.overOldBlock ? 0 : block.size()));
        EXPECT_TRUE(SameBytes(before, fresh, 16, kDeadBytesField));
        EXPECT_TRUE(SameBytes(before, fresh, kDeadBytesField + 4, start));
        EXPECT_TRUE(SameBytes(block, Bytes(fresh.begin() + start, fresh.end()), 0, block.size()));
        EXPECT_TRUE(SameBytes(before, fresh, std::min(start + block.size(), oldMap), oldMap));
        CloseAll();
        EXPECT_EQ(FlatResources(Parse(ReadWholeFile(path))), expected);

        for (const Fault &fault : faults) {
            bool fired = true;
            for (uint32_t n = 1; fired && n < 200; ++n) {
                SCOPED_TRACE(testing::Message() << fault.name << " " << n);
                OpenBase();
                Handle h = (this->*c.prepare)();
                const Bytes old = ReadWholeFile(path);
                bool ok = false;
                {
                    FaultPlatform platform;
                    if (fault.op == PlatformOp::Count) {
                        MemoryPoolFailNth(n);
                    } else {
                        platform.FailNth(fault.op, n, fault.persistent);
                    }
                    ok = Act(h);
                    fired = platform.Fired() || MemoryPoolFailureFired();
                    MemoryPoolFailNth(0);
                }
                const Bytes now = ReadWholeFile(path);
                if (!fired) {
                    EXPECT_TRUE(ok);
                    EXPECT_EQ(now, fresh);
                } else if (!ok) {
                    EXPECT_EQ(now, old);
                } else {
                    // A failed read of the old length makes the write append
                    // instead; a write that did not get through never succeeds.
                    EXPECT_TRUE(fault.op != PlatformOp::Write && fault.op != PlatformOp::Truncate &&
                                !fault.persistent);
                    EXPECT_EQ(FlatResources(Parse(now)), expected);
                }
                for (const FlatResource &resource : expected)
                    EXPECT_EQ(BytesOf(Get(resource.type, resource.id)), resource.data) << resource;
                CloseAll();
                EXPECT_EQ(FlatResources(Parse(ReadWholeFile(path))), expected);
                if (HasFatalFailure()) return;
            }
        }
    }
}

// A write of an unchanged Handle or of one in no map writes nothing; a changed
// resource without data is refused (-34) and left to the write-back.
TEST_F(WriteResourceTest, WritesThatTouchNothing) {
    const std::string path = OpenBase();
    Handle loaded = Get(kFsTI, 129);
    FaultPlatform platform;
    for (auto [h, error] : {std::pair{loaded, kResourceOk},
                            std::pair{Own(HandleWith(Pattern(4, 4)), kWnew), kResourceNotFound},
                            std::pair{Handle(nullptr), kResourceNotFound}}) {
        WriteResource(h);
        EXPECT_EQ(ResourceError(), error);
    }
    WriteResource(Add(Bytes{}, kWnew, 3, "empty"));
    EXPECT_EQ(ResourceError(), kDiskFull);
    EXPECT_EQ(platform.Calls(PlatformOp::Open), 0u);
    CloseAll();
    FixtureFile expected = Base();
    expected.types.push_back({kWnew, {Res(3, "empty")}});
    EXPECT_EQ(FlatResources(Parse(ReadWholeFile(path))), FlatResources(expected));
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

// A random session of adds, removals, changes, writes, write-backs and
// reopenings on one file, against a model of the orders a map keeps (types in
// list order, entries in run order, runs and names in the order they were made)
// and of the data. After every step the map block in memory, laid over the
// file's header and data area, must parse strictly and hold the model, data
// included for every resource not waiting in memory; after every write the file
// on disk must be exactly that image.
class Session {
  public:
    using Key = std::pair<uint32_t, int16_t>;
    struct Entry {
        int16_t id = 0;
        std::optional<std::string> name;
        Bytes data;
        bool marked = false;  // changed in memory, not yet in the file
    };
    struct Type {
        uint32_t type = 0;
        std::vector<Entry> entries;
    };

    Session(WriteResourceTest *test, uint32_t seed) : test_(test), random_(seed) {}

    void Run(int steps) {
        FixtureFile file;
        file.deadBytes = Below(4) == 0 ? -50 : 0;
        file.types = {{kData, {Res(1, "one", RandomData()), Res(-2, {}, RandomData())}},
                      {kSTR, {Res(5, "five", RandomData())}}};
        for (const FixtureType &t : file.types) {
            for (const FixtureResource &r : t.resources)
                AddEntry({t.type, r.id}, r.name, r.data, false);
        }
        path_ = test_->Write("session.rez", file);
        ref_ = test_->Open(path_);
        void (Session::*const actions[])() = {
            &Session::Add,    &Session::Add,    &Session::Add,    &Session::Remove,
            &Session::Change, &Session::Change, &Session::Remove, &Session::Remove,
            &Session::Write,  &Session::Write,  &Session::Write,  &Session::Write,
            &Session::Update, &Session::Force,  &Session::Close,  &Session::Close};
        for (int step = 0; step < steps && !::testing::Test::HasFailure(); ++step) {
            SCOPED_TRACE(testing::Message() << "step " << step);
            (this->*actions[Below(16)])();
            MemoryImage();
        }
        Close();
        test_->CloseAll();
    }

  private:
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(random_() % n); }
    Bytes RandomData() {
        Bytes data(1 + Below(300));
        for (uint8_t &byte : data)
            byte = static_cast<uint8_t>(random_());
        return data;
    }
    Type *TypeOf(uint32_t type) {
        auto it = std::find_if(types_.begin(), types_.end(),
                               [&](const Type &t) { return t.type == type; });
        return it == types_.end() ? nullptr : &*it;
    }
    Entry *EntryOf(const Key &key) {
        Type *t = TypeOf(key.first);
        auto it = std::find_if(t->entries.begin(), t->entries.end(),
                               [&](const Entry &e) { return e.id == key.second; });
        return it == t->entries.end() ? nullptr : &*it;
    }
    // A new type goes last, with its run behind all others; an entry that keeps
    // its name keeps its place in the name list, any other name goes last.
    void AddEntry(const Key &key, const std::optional<std::string> &name, const Bytes &data,
                  bool marked) {
        if (TypeOf(key.first) == nullptr) {
            types_.push_back({key.first, {}});
            runs_.push_back(key.first);
        }
        Entry *entry = EntryOf(key);
        if (entry == nullptr || entry->name != name) {
            std::erase(names_, key);
            if (name) names_.push_back(key);
        }
        if (entry == nullptr) entry = &TypeOf(key.first)->entries.emplace_back();
        *entry = {key.second, name, data, marked};
    }
    // A resource the model holds, and its Handle, which must hold its data.
    std::pair<Key, Handle> Existing() {
        std::vector<Key> keys;
        for (const Type &t : types_) {
            for (const Entry &e : t.entries)
                keys.emplace_back(t.type, e.id);
        }
        const Key key = keys[Below(static_cast<uint32_t>(keys.size()))];
        Handle h = test_->Get(key.first, key.second);
        EXPECT_EQ(BytesOf(h), EntryOf(key)->data);
        return {key, h};
    }
    bool AnyMarked() {
        bool any = false;
        for (const Type &t : types_) {
            for (const Entry &e : t.entries)
                any = any || e.marked;
        }
        return any;
    }

    void Add() {
        const Key key{std::array{kData, kFsTI, kSTR, kWnew}[Below(4)],
                      static_cast<int16_t>(static_cast<int>(Below(12)) - 3)};
        const std::string name(Below(8) == 0 ? 255 : (Below(4) == 0 ? 0 : Below(20)),
                               static_cast<char>('a' + Below(26)));
        const Bytes data = RandomData();
        test_->Add(data, key.first, key.second, name);
        AddEntry(key, name.empty() ? std::nullopt : std::optional(name), data, true);
    }
    // Removes a resource, and two times in three adds one of at most its size
    // under the same type, id and name, as an update replaces one. The last
    // resource stays, so that the data area keeps a block for added entries
    // to point at.
    void Remove() {
        const auto [key, h] = Existing();
        if (types_.size() == 1 && types_[0].entries.size() == 1) return;
        const Entry old = *EntryOf(key);
        RemoveResource(h);
        ASSERT_EQ(ResourceError(), kResourceOk);
        std::vector<Entry> &entries = TypeOf(key.first)->entries;
        std::erase_if(entries, [&](const Entry &e) { return e.id == key.second; });
        std::erase(names_, key);
        if (entries.empty()) {
            std::erase(runs_, key.first);
            std::erase_if(types_, [&](const Type &t) { return t.type == key.first; });
        }
        if (Below(3) == 0) return;
        Bytes data = RandomData();
        data.resize(1 + Below(static_cast<uint32_t>(old.data.size())));
        test_->Add(data, key.first, key.second, old.name.value_or(""));
        AddEntry(key, old.name, data, true);
    }
    void Change() {
        const auto [key, h] = Existing();
        Entry &entry = *EntryOf(key);
        if (Below(2) == 0) {
            for (uint8_t &byte : entry.data)
                byte = static_cast<uint8_t>(byte + 1);
            std::memcpy(*h, entry.data.data(), entry.data.size());
        } else {
            const Bytes extra = RandomData();
            Handle more = HandleWith(extra);
            ASSERT_EQ(AppendHandle(more, h), 0);
            DisposeHandle(more);
            entry.data.insert(entry.data.end(), extra.begin(), extra.end());
        }
        MarkResourceChanged(h);
        ASSERT_EQ(ResourceError(), kResourceOk);
        entry.marked = true;
    }
    void Write() {
        const auto [key, h] = Existing();
        const bool marked = EntryOf(key)->marked;
        WriteResource(h);
        ASSERT_EQ(ResourceError(), kResourceOk);
        EntryOf(key)->marked = false;
        if (marked) {
            EXPECT_EQ(ReadWholeFile(path_), MemoryImage());
        }
    }
    void Update() { WriteBack(false); }
    void Close() { WriteBack(true); }
    void Force() {
        SetResourceCompaction(3);
        forced_ = true;
    }
    // Forced compaction is one-shot; dead bytes of more than 350,000 or of a
    // fifth of the file or more call for it too.
    void WriteBack(bool closing) {
        const Bytes before = ReadWholeFile(path_);
        const int32_t dead = GetI32(before, kDeadBytesField);
        bool compacts = AnyMarked() || forced_;
        if (!compacts && dead != 0)
            compacts = dead > 350000 || before.size() / static_cast<uint32_t>(dead) < 5;
        if (!AnyMarked() || closing) forced_ = false;
        closing ? CloseResourceFile(ref_) : UpdateResourceFile(ref_);
        EXPECT_EQ(ResourceError(), kResourceOk);
        for (Type &t : types_) {
            for (Entry &e : t.entries)
                e.marked = false;
        }
        if (closing) ref_ = test_->Open(path_);
        const Bytes after = ReadWholeFile(path_);
        EXPECT_EQ(after, MemoryImage());
        if (compacts) {
            // Blocks back to back, no dead bytes.
            uint32_t length = 0;
            for (const Type &t : types_) {
                for (const Entry &e : t.entries)
                    length += 4 + static_cast<uint32_t>(e.data.size());
            }
            EXPECT_EQ(DataLengthOf(after), length);
            EXPECT_EQ(GetI32(after, kDeadBytesField), 0);
        } else {
            EXPECT_TRUE(SameBytes(before, after, 16, MapOffsetOf(before)));
            EXPECT_EQ(MapOffsetOf(after), MapOffsetOf(before));
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
        std::vector<size_t> runOrder;
        Bytes names;
        for (size_t t = 0; t < parsed.types.size(); ++t) {
            for (size_t r = 0; r < parsed.types[t].resources.size(); ++r) {
                const FixtureResource &e = parsed.types[t].resources[r];
                rows.emplace_back(parsed.types[t].type, e.id, e.name, e.attributes,
                                  e.attributes != 0 ? Bytes() : e.data);
                PutU32(image, ReferenceEntryOffset(image, t, r) + 8, 0);
            }
        }
        for (const Type &t : types_) {
            for (const Entry &e : t.entries)
                expected.emplace_back(t.type, e.id, e.name, e.marked ? 0x02 : 0,
                                      e.marked ? Bytes() : e.data);
        }
        for (uint32_t type : runs_)
            runOrder.push_back(static_cast<size_t>(TypeOf(type) - types_.data()));
        if (std::is_sorted(runOrder.begin(), runOrder.end())) runOrder.clear();
        for (const Key &key : names_) {
            const Bytes name = Str255Of(*EntryOf(key)->name);
            names.insert(names.end(), name.begin(), name.end());
        }
        EXPECT_EQ(rows, expected);
        EXPECT_EQ(parsed.runOrder, runOrder);
        EXPECT_EQ(
            Bytes(image.begin() + static_cast<std::ptrdiff_t>(NameListOffset(image)), image.end()),
            names);
        return image;
    }

    WriteResourceTest *test_;
    std::mt19937 random_;
    std::string path_;
    uint16_t ref_ = 0;
    std::vector<Type> types_;
    std::vector<uint32_t> runs_;
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