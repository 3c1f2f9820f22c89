// Writing single resources into their file, and a randomised comparison of
// whole editing sessions against a plain model of the file's resources.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "common/fault_platform.h"
#include "common/resource_test.h"
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

class WriteResourceTest : public ResourceFileTest {
  public:
    // The file written afresh and opened.
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

    // The three kinds of write: 100 bytes over 80 (behind the data area), 60
    // over 80 (over the old block), and a new resource (behind the data area).
    struct WriteCase {
        const char *name;
        Handle (WriteResourceTest::*prepare)();
        uint32_t type;
        int16_t id;
        FixtureFile expected;  // the file's resources after the write
        bool overOldBlock;
        int32_t dead;  // the dead-bytes counter after the write
    };
    static std::vector<WriteCase> Cases() {
        FixtureFile grown = Base(), shrunk = Base(), added = Base();
        Bytes &fish = grown.types[0].resources[0].data;
        const Bytes extra = Pattern(20, 50);
        fish.insert(fish.end(), extra.begin(), extra.end());
        shrunk.types[0].resources[0] = Res(128, "fish", Pattern(60, 60));
        added.types.push_back({kWnew, {Res(5, "added", Pattern(50, 5))}});
        return {{"append", &WriteResourceTest::GrowFish, kFsTI, 128, grown, false, 7 + 100},
                {"in place", &WriteResourceTest::ShrinkFish, kFsTI, 128, shrunk, true, 7 + 80 + 20},
                {"new", &WriteResourceTest::AddNew, kWnew, 5, added, false, 7}};
    }
};

TEST_F(WriteResourceTest, DataGoesOverTheOldBlockOrBehindTheDataArea) {
    for (const WriteCase &c : Cases()) {
        SCOPED_TRACE(c.name);
        const std::string path = OpenBase();
        const uint32_t oldOffset = *Find(Parse(ReadWholeFile(path)), kFsTI, 128)->dataOffset;
        Handle h = (this->*c.prepare)();
        const Bytes before = ReadWholeFile(path);
        WriteResource(h);
        ASSERT_EQ(ResourceError(), kResourceOk);
        const Bytes after = ReadWholeFile(path);
        const FixtureFile parsed = Parse(after);
        EXPECT_EQ(FlatResources(parsed), FlatResources(c.expected));
        EXPECT_EQ(parsed.deadBytes, c.dead);
        const FixtureResource *written = Find(parsed, c.type, c.id);
        const uint32_t block = 4 + static_cast<uint32_t>(written->data.size());
        if (c.overOldBlock) {
            EXPECT_EQ(written->dataOffset, oldOffset);
            EXPECT_EQ(MapOffsetOf(after), MapOffsetOf(before));
            // Behind the new data the rest of the old block is left as it was.
            const size_t start = 256 + oldOffset;
            EXPECT_TRUE(std::equal(before.begin() + start + block, before.begin() + start + 84,
                                   after.begin() + start + block));
        } else {
            EXPECT_EQ(written->dataOffset, DataLengthOf(before));
            EXPECT_EQ(DataLengthOf(after), DataLengthOf(before) + block);
            // Nothing before the old map moved, apart from the header and the counter.
            EXPECT_TRUE(std::equal(before.begin() + 16, before.begin() + 32, after.begin() + 16));
            EXPECT_TRUE(std::equal(before.begin() + 36, before.begin() + MapOffsetOf(before),
                                   after.begin() + 36));
        }
        // The Handle was let go or is no longer marked: the data comes from the file.
        ReleaseResource(h);
        EXPECT_EQ(BytesOf(Get(c.type, c.id)), written->data);
        CloseAll();
    }
    // A negative counter is replaced, not added to.
    OpenBase(Base(-50));
    WriteResource(GrowFish());
    EXPECT_EQ(GetI32(ReadWholeFile(temp_.File("content.rez")), kDeadBytesField), 100);
}

// A write of an unchanged Handle or of one in no map writes nothing. A write
// over the old block lets go of the Handles of resources without a change
// waiting and clears their attributes on disk; a change still waiting is marked
// in the map on disk and stored by the next write-back. A changed resource
// without data is refused (-34) and left to the write-back.
TEST_F(WriteResourceTest, WhatAWriteTouches) {
    FixtureFile file = Base();
    file.types[0].resources[1].attributes = 0x10;
    const std::string path = OpenBase(file);
    const Bytes before = ReadWholeFile(path);
    Handle loaded = Get(kFsTI, 129);
    FaultPlatform platform;
    for (auto [h, error] : {std::pair{loaded, kResourceOk},
                            std::pair{Own(HandleWith(Pattern(4, 4)), kWnew), kResourceNotFound},
                            std::pair{Handle(nullptr), kResourceNotFound}}) {
        WriteResource(h);
        EXPECT_EQ(ResourceError(), error);
    }
    EXPECT_EQ(platform.Calls(PlatformOp::Open), 0u);
    EXPECT_EQ(ReadWholeFile(path), before);

    Handle pending = Get(kSTR, 1);
    (*pending)[0] ^= 0xFF;
    MarkResourceChanged(pending);
    WriteResource(ShrinkFish());
    const FixtureFile parsed = Parse(ReadWholeFile(path));
    EXPECT_EQ(Find(parsed, kFsTI, 129)->attributes, 0);
    EXPECT_EQ(Find(parsed, kSTR, 1)->attributes, 0x02);
    ReleaseResource(loaded);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    ReleaseResource(pending);
    EXPECT_EQ(Get(kSTR, 1), pending);
    UpdateResourceFile(CurrentResourceFile());
    FixtureFile expected = Cases()[1].expected;
    expected.types[1].resources[0].data[0] ^= 0xFF;
    EXPECT_EQ(FlatResources(Parse(ReadWholeFile(path))), FlatResources(expected));

    const uint32_t opens = platform.Calls(PlatformOp::Open);
    WriteResource(Add(Bytes{}, kWnew, 3, "empty"));
    EXPECT_EQ(ResourceError(), kDiskFull);
    EXPECT_EQ(platform.Calls(PlatformOp::Open), opens);
    CloseAll();
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
        const FixtureFile parsed = Parse(ReadWholeFile(path));
        EXPECT_EQ(Find(parsed, kPICT, 200)->data, expected);
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

// For each kind of write (appended, over the old block, new) and each fault
// (the n-th call of a kind, every size query from the n-th on, the n-th
// allocation) for n = 1, 2, ... until it no longer fires: a failed write leaves
// the file as it was, and the file's map in memory still fits the file: every
// resource that waits in no Handle is read right, and the write-back at closing
// stores every resource as it should be.
TEST_F(WriteResourceTest, FailedWritesLeaveTheFileAsItWas) {
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
        const std::vector<FlatResource> expected = FlatResources(c.expected);
        const std::string path = OpenBase();
        WriteResource((this->*c.prepare)());
        ASSERT_EQ(ResourceError(), kResourceOk) << c.name;
        const Bytes fresh = ReadWholeFile(path);
        CloseAll();
        for (const Fault &fault : faults) {
            bool fired = true;
            for (uint32_t n = 1; fired && n < 200; ++n) {
                SCOPED_TRACE(testing::Message() << c.name << ", " << fault.name << " " << n);
                OpenBase();
                Handle h = (this->*c.prepare)();
                const Bytes old = ReadWholeFile(path);
                {
                    FaultPlatform platform;
                    if (fault.op == PlatformOp::Count) {
                        MemoryPoolFailNth(n);
                    } else {
                        platform.FailNth(fault.op, n, fault.persistent);
                    }
                    WriteResource(h);
                    fired = platform.Fired() || MemoryPoolFailureFired();
                    MemoryPoolFailNth(0);
                }
                const int16_t error = ResourceError();
                const Bytes now = ReadWholeFile(path);
                if (!fired) {
                    EXPECT_EQ(error, kResourceOk);
                    EXPECT_EQ(now, fresh);
                } else if (error == kDiskFull) {
                    EXPECT_EQ(now, old);
                } else {
                    // A failed read of the old length makes the write append
                    // instead; a write that did not get through never succeeds.
                    EXPECT_EQ(error, kResourceOk);
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

// Random editing sessions against a model

using Key = std::pair<uint32_t, int16_t>;

struct ModelResource {
    std::optional<std::string> name;
    Bytes data;
    bool marked = false;  // changed in memory, not yet in the file
};

// What the map stored in the file says of a resource.
struct StoredEntry {
    bool marked = false;  // the map on disk carries the changed attribute
    uint32_t length = 0;  // the byte count of its block
};

// A random editing session on one file, checked after every write against a
// model of the resources and of the dead-bytes counter.
class Session {
  public:
    Session(WriteResourceTest *test, uint32_t seed) : test_(test), random_(seed) {}

    void Run(int steps) {
        // The session starts from a file the fixture wrote.
        model_[{kData, 1}] = {"one", RandomData(), false};
        model_[{kData, -2}] = {std::nullopt, RandomData(), false};
        model_[{kSTR, 5}] = {"five", RandomData(), false};
        FixtureFile file = Described({{kData, {}}, {kSTR, {}}});
        for (const auto &[key, resource] : model_)
            file.types[key.first == kData ? 0 : 1].resources.push_back(
                Res(key.second, resource.name, resource.data));
        StoreMap();
        path_ = test_->Write("session.rez", file);
        ref_ = test_->Open(path_);
        // Weights: add 3, remove 1, change 2, replace 2, write 4, update 1, force 1, close 2.
        void (Session::*const actions[])() = {
            &Session::Add,    &Session::Add,    &Session::Add,     &Session::Remove,
            &Session::Change, &Session::Change, &Session::Replace, &Session::Replace,
            &Session::Write,  &Session::Write,  &Session::Write,   &Session::Write,
            &Session::Update, &Session::Force,  &Session::Close,   &Session::Close};
        for (int step = 0; step < steps && !::testing::Test::HasFatalFailure(); ++step) {
            SCOPED_TRACE(testing::Message() << "step " << step);
            (this->*actions[Below(16)])();
        }
        WriteBack(true);
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
    std::optional<std::string> RandomName() {
        std::string name(Below(4) == 0 ? 0 : Below(20), ' ');
        for (char &c : name)
            c = static_cast<char>('a' + Below(26));
        return name.empty() ? std::nullopt : std::optional<std::string>(name);
    }
    Key RandomKey() {
        const uint32_t types[] = {kData, kFsTI, kSTR, FourCC("Wxyz")};
        const uint32_t type = types[Below(4)];
        return {type, static_cast<int16_t>(static_cast<int>(Below(12)) - 3)};
    }
    // A resource the model holds, and its Handle.
    std::pair<Key, Handle> Existing() {
        auto it = model_.begin();
        std::advance(it, Below(static_cast<uint32_t>(model_.size())));
        Handle h = test_->Get(it->first.first, it->first.second);
        EXPECT_NE(h, nullptr);
        return {it->first, h};
    }
    bool AnyMarked() const {
        return std::any_of(model_.begin(), model_.end(),
                           [](const auto &entry) { return entry.second.marked; });
    }
    // The map on disk is now the map in memory.
    void StoreMap() {
        stored_.clear();
        for (const auto &[key, resource] : model_)
            stored_[key] = {resource.marked, static_cast<uint32_t>(resource.data.size())};
    }

    void Add() {
        const Key key = RandomKey();
        const std::optional<std::string> name = RandomName();
        const Bytes data = RandomData();
        test_->Add(data, key.first, key.second, name.value_or(""));
        model_[key] = {name, data, true};
    }
    void Remove() { Remove(false); }
    void Replace() { Remove(true); }
    // Removes a resource; with replace, adds one of at most its size under the
    // same type, id and name, as an update replaces a resource.
    void Remove(bool replace) {
        if (model_.empty()) return;
        const auto [key, h] = Existing();
        RemoveResource(h);
        ASSERT_EQ(ResourceError(), kResourceOk);
        ModelResource &resource = model_[key];
        dead_ += static_cast<int64_t>(resource.data.size());
        if (!replace) {
            model_.erase(key);
            return;
        }
        Bytes data = RandomData();
        data.resize(1 + Below(static_cast<uint32_t>(resource.data.size())));
        test_->Add(data, key.first, key.second, resource.name.value_or(""));
        resource = {resource.name, data, true};
    }
    void Change() {
        if (model_.empty()) return;
        const auto [key, h] = Existing();
        ModelResource &resource = model_[key];
        ASSERT_EQ(BytesOf(h), resource.data);
        if (Below(2) == 0) {
            for (uint8_t &byte : resource.data)
                byte = static_cast<uint8_t>(byte + 1);
            std::memcpy(*h, resource.data.data(), resource.data.size());
        } else {
            const Bytes extra = RandomData();
            Handle more = HandleWith(extra);
            ASSERT_EQ(AppendHandle(more, h), 0);
            DisposeHandle(more);
            resource.data.insert(resource.data.end(), extra.begin(), extra.end());
        }
        MarkResourceChanged(h);
        ASSERT_EQ(ResourceError(), kResourceOk);
        resource.marked = true;
    }
    void Write() {
        if (model_.empty()) return;
        const auto [key, h] = Existing();
        WriteResource(h);
        ASSERT_EQ(ResourceError(), kResourceOk);
        ModelResource &resource = model_[key];
        if (!resource.marked) return;
        const uint32_t size = static_cast<uint32_t>(resource.data.size());
        const auto found = stored_.find(key);
        if (found != stored_.end()) {
            const bool overOldBlock = !found->second.marked && size <= found->second.length;
            dead_ += overOldBlock ? found->second.length - size : size;
        }
        resource.marked = false;
        StoreMap();
        ExpectFileMatches(false);
    }
    void Update() { WriteBack(false); }
    void Close() { WriteBack(true); }
    void Force() {
        SetResourceCompaction(3);
        forced_ = true;
    }
    void WriteBack(bool closing) {
        const Bytes before = ReadWholeFile(path_);
        const int32_t counter = GetI32(before, kDeadBytesField);
        bool compacts = AnyMarked() || forced_;
        if (!compacts && counter != 0)
            compacts = counter > 350000 || before.size() / static_cast<uint32_t>(counter) < 5;
        if (!AnyMarked() || closing) forced_ = false;
        closing ? CloseResourceFile(ref_) : UpdateResourceFile(ref_);
        EXPECT_EQ(ResourceError(), kResourceOk);
        const Bytes after = ReadWholeFile(path_);
        if (compacts) {
            dead_ = 0;
            EXPECT_TRUE(Parse(after).deadData.empty());
        } else {
            EXPECT_TRUE(std::equal(before.begin() + 256, before.begin() + MapOffsetOf(before),
                                   after.begin() + 256, after.begin() + MapOffsetOf(after)));
        }
        for (auto &entry : model_)
            entry.second.marked = false;
        StoreMap();
        ExpectFileMatches(true);
        if (closing) ref_ = test_->Open(path_);
    }

    // The file parses strictly. After a write-back it holds exactly the model's
    // resources; otherwise every resource not waiting in memory is stored as
    // the model says.
    void ExpectFileMatches(bool complete) {
        const FixtureFile parsed = Parse(ReadWholeFile(path_));
        EXPECT_EQ(parsed.deadBytes, dead_);
        auto waiting = [&](const Key &key) {
            auto it = model_.find(key);
            return !complete && (it == model_.end() || it->second.marked);
        };
        std::vector<FlatResource> expected;
        for (const auto &[key, resource] : model_) {
            if (!waiting(key))
                expected.push_back({key.first, key.second, resource.name, resource.data, 0});
        }
        std::vector<FlatResource> actual = FlatResources(parsed);
        std::erase_if(actual, [&](const FlatResource &r) { return waiting({r.type, r.id}); });
        EXPECT_EQ(actual, expected);
    }

    WriteResourceTest *test_;
    std::mt19937 random_;
    std::string path_;
    uint16_t ref_ = 0;
    std::map<Key, ModelResource> model_;
    std::map<Key, StoredEntry> stored_;
    int64_t dead_ = 0;
    bool forced_ = false;
};

TEST_F(WriteResourceTest, RandomSessionsMatchTheModel) {
    for (uint32_t seed = 1; seed <= 60 && !HasFatalFailure(); ++seed) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        Session(this, seed).Run(80);
    }
}

}  // namespace
