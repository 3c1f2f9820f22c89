// The open files chain (numbers, the current file, duplicate opens, closing,
// creating, the info block operations) and resource access across the chain
// (search orders, Handle identity and ownership, names, unique ids, strings,
// load on demand and preloading). Files are built by the test fixture, and
// files the library writes are read back with the fixture's strict parser.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/fault_platform.h"
#include "common/fixture.h"
#include "common/test_env.h"
#include "resources/handles.h"
#include "resources/map_block.h"
#include "resources/open_files.h"
#include "resources/resource_manager.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kFsTI = FourCC("FsTI");
constexpr uint32_t kSTR = FourCC("STR ");
constexpr uint32_t kSTRList = FourCC("STR#");
constexpr uint32_t kWatr = FourCC("Watr");
constexpr uint32_t kFADP = FourCC("FADP");

Bytes Str(const std::string &text) {
    Bytes out(1, static_cast<uint8_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

Bytes Text(const std::string &text) {
    return Bytes(text.begin(), text.end());
}

FixtureResource Res(int16_t id, std::optional<std::string> name, Bytes data,
                    uint8_t attributes = 0) {
    FixtureResource resource;
    resource.id = id;
    resource.name = std::move(name);
    resource.data = std::move(data);
    resource.attributes = attributes;
    return resource;
}

FixtureFile Described(std::vector<FixtureType> types) {
    FixtureFile file;
    file.types = std::move(types);
    return file;
}

Bytes Contents(Handle h) {
    if (h == nullptr || *h == nullptr) return {};
    return Bytes(*h, *h + GetHandleSize(h));
}

// The id of a Handle the maps hold, or -999.
int IdOf(Handle h) {
    int16_t id = -999;
    GetResourceInfo(h, &id, nullptr, nullptr);
    return id;
}

std::vector<uint16_t> ChainNumbers() {
    std::vector<uint16_t> numbers;
    for (ResourceFileRecord *file = FirstFile(OpenFilesChain()); file; file = NextFile(file))
        numbers.push_back(file->refNum);
    return numbers;
}

class ChainTest : public PoolTest {
  protected:
    void SetUp() override {
        PoolTest::SetUp();
        ASSERT_EQ(StartResourceManager(), 0);
        ResourceError();
    }
    void TearDown() override {
        while (LastFile(OpenFilesChain()) != nullptr) {
            CloseResourceFile(LastFile(OpenFilesChain())->refNum);
        }
        StopResourceManager();
        PoolTest::TearDown();
    }
    std::string Write(const std::string &name, const Bytes &bytes) {
        std::string path = temp_.File(name);
        WriteWholeFile(path, bytes);
        return path;
    }
    std::string Write(const std::string &name, const FixtureFile &file) {
        return Write(name, BuildResourceFile(file));
    }
    // A file holding one FsTI resource whose data is the file's name.
    std::string Simple(const std::string &name) {
        return Write(name, Described({{kFsTI, {Res(128, name, Text(name))}}}));
    }
    static uint16_t Open(const std::string &path) { return OpenResourceFile(Str(path).data()); }
};

// ---------------------------------------------------------------------------
// Numbers and the current file.

using OpenFilesNumbering = ChainTest;

TEST_F(OpenFilesNumbering, NumbersFollowTheLastFile) {
    std::string a = Simple("a"), b = Simple("b"), c = Simple("c"), d = Simple("d");
    EXPECT_EQ(Open(a), 0);
    EXPECT_EQ(Open(b), 1);
    EXPECT_EQ(CurrentResourceFile(), 1);
    CloseResourceFile(1);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(Open(c), 1);
    EXPECT_EQ(CurrentResourceFile(), 1);
    // Closing a file in the middle frees no number: the next is last + 1.
    EXPECT_EQ(Open(b), 2);
    CloseResourceFile(1);
    EXPECT_EQ(Open(d), 3);
    EXPECT_EQ(ChainNumbers(), (std::vector<uint16_t>{0, 2, 3}));
}

TEST_F(OpenFilesNumbering, SamePathInOtherCaseGivesTheFirstNumber) {
    std::string a = Simple("Alpha.rsrc");
    std::string b = Simple("beta.rsrc");
    ASSERT_EQ(Open(a), 0);
    ASSERT_EQ(Open(b), 1);
    std::string upper = a;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
    ResourceError();
    EXPECT_EQ(Open(upper), 0);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(CurrentResourceFile(), 1);
    EXPECT_EQ(Open(a), 0);
    EXPECT_EQ(CurrentResourceFile(), 1);
    EXPECT_EQ(ChainNumbers(), (std::vector<uint16_t>{0, 1}));
    // One close closes it for every opener.
    CloseResourceFile(0);
    EXPECT_EQ(ChainNumbers(), (std::vector<uint16_t>{1}));
}

TEST_F(OpenFilesNumbering, ClosingTheCurrentFileMakesTheLastOneCurrent) {
    std::string a = Simple("a"), b = Simple("b"), c = Simple("c");
    ASSERT_EQ(Open(a), 0);
    ASSERT_EQ(Open(b), 1);
    ASSERT_EQ(Open(c), 2);
    UseResourceFile(1);
    CloseResourceFile(1);
    EXPECT_EQ(CurrentResourceFile(), 2) << "the last file, not the one opened before";
    // Closing a file that is not current leaves the current one alone.
    UseResourceFile(0);
    CloseResourceFile(2);
    EXPECT_EQ(CurrentResourceFile(), 0);
}

TEST_F(OpenFilesNumbering, ClosingTheOnlyFileKeepsItsNumberCurrent) {
    std::string a = Simple("a"), b = Simple("b"), c = Simple("c");
    ASSERT_EQ(Open(a), 0);
    ASSERT_EQ(Open(b), 1);
    CloseResourceFile(0);
    EXPECT_EQ(CurrentResourceFile(), 1);
    CloseResourceFile(1);
    EXPECT_EQ(CurrentResourceFile(), 1);
    EXPECT_TRUE(ChainNumbers().empty());
    EXPECT_EQ(Open(c), 0);
    EXPECT_EQ(CurrentResourceFile(), 0);
}

TEST_F(OpenFilesNumbering, UseResourceFileTakesAnyNumber) {
    ASSERT_EQ(Open(Simple("a")), 0);
    UseResourceFile(77);
    EXPECT_EQ(CurrentResourceFile(), 77);
    EXPECT_EQ(GetOneResource(kFsTI, 128), nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    EXPECT_EQ(GetResource(kFsTI, 128), nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    EXPECT_EQ(GetOneIndexedResource(kFsTI, 1), nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    EXPECT_EQ(CountOneResources(kFsTI), 0u);
    // Operations over all files still see file 0.
    EXPECT_EQ(CountResources(kFsTI), 1);
    Handle h = GetIndexedResource(kFsTI, 1);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(HomeResourceFile(h), 0);
    ReleaseResource(h);
}

TEST_F(OpenFilesNumbering, FailedOpensReportAndResourceErrorClears) {
    ASSERT_EQ(Open(Simple("a")), 0);
    EXPECT_EQ(Open(temp_.File("missing.rsrc")), kNoFile);
    EXPECT_EQ(ResourceError(), kFileNotUsable);
    EXPECT_EQ(ResourceError(), kResourceOk);
    // An empty path and a folder are no resource files either.
    EXPECT_EQ(OpenResourceFile(Str("").data()), kNoFile);
    EXPECT_EQ(ResourceError(), kFileNotUsable);
    EXPECT_EQ(Open(temp_.path()), kNoFile);
    EXPECT_EQ(ResourceError(), kFileNotUsable);
    EXPECT_EQ(ChainNumbers(), (std::vector<uint16_t>{0}));
    EXPECT_EQ(CurrentResourceFile(), 0);
}

TEST_F(OpenFilesNumbering, ClosingAnUnknownNumberChangesNothing) {
    ASSERT_EQ(Open(Simple("a")), 0);
    CloseResourceFile(5);
    EXPECT_EQ(ResourceError(), kFileNotUsable);
    CloseResourceFile(kNoFile);
    EXPECT_EQ(ResourceError(), kFileNotUsable);
    EXPECT_EQ(ChainNumbers(), (std::vector<uint16_t>{0}));
    EXPECT_EQ(CurrentResourceFile(), 0);
}

TEST_F(OpenFilesNumbering, HandlesOutliveTheirFile) {
    uint16_t ref = Open(Simple("a"));
    Handle h = GetResource(kFsTI, 128);
    ASSERT_NE(h, nullptr);
    CloseResourceFile(ref);
    // The Handle is the holder's now: still valid, in no map.
    EXPECT_EQ(Contents(h), Text("a"));
    EXPECT_EQ(HomeResourceFile(h), -1);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    DisposeHandle(h);
}

// ---------------------------------------------------------------------------
// Creating files.

using OpenFilesCreate = ChainTest;

TEST_F(OpenFilesCreate, NewFileIsTheEmptyFileOfTheFormat) {
    const Bytes empty = BuildResourceFile(FixtureFile{});
    ASSERT_EQ(empty.size(), 286u);
    std::string path = temp_.File("new.rsrc");
    EXPECT_EQ(CreateResourceFile(Str(path).data()), 1);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_TRUE(ChainNumbers().empty()) << "creating does not open";
    Bytes made = ReadWholeFile(path);
    EXPECT_EQ(made, empty);
    FixtureFile parsed;
    std::string why;
    EXPECT_TRUE(ParseResourceFile(made, &parsed, &why)) << why;
    EXPECT_TRUE(parsed.types.empty());

    uint16_t ref = Open(path);
    ASSERT_NE(ref, kNoFile);
    EXPECT_EQ(CountResources(kFsTI), 0);
    EXPECT_EQ(CountOneResources(kFsTI), 0u);
    EXPECT_EQ(GetIndexedResource(kFsTI, 1), nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    EXPECT_EQ(UniqueResourceId(kFsTI), 1280);
    CloseResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), empty);
}

TEST_F(OpenFilesCreate, ExistingFileIsNotTouched) {
    const Bytes bytes = BuildResourceFile(Described({{kFsTI, {Res(1, "x", Text("data"))}}}));
    std::string path = Write("there.rsrc", bytes);
    EXPECT_EQ(CreateResourceFile(Str(path).data()), kGenericFailure);
    EXPECT_EQ(ResourceError(), kCannotCreate);
    EXPECT_EQ(ReadWholeFile(path), bytes);

    EXPECT_EQ(CreateResourceFile(Str(temp_.File("no/such/folder.rsrc")).data()), kGenericFailure);
    EXPECT_EQ(ResourceError(), kCannotCreate);
    EXPECT_EQ(ListFolder(temp_.path()), (std::vector<std::string>{"there.rsrc"}));
}

// ---------------------------------------------------------------------------
// Layouts at open.

using OpenFilesLayout = ChainTest;

FixtureFile Mixed() {
    return Described(
        {{kFsTI, {Res(128, "alpha", Text("abc")), Res(129, std::nullopt, Text("wxyz"))}},
         {kSTR, {Res(1, "s", Text("\x05hello"))}},
         {kSTRList, {Res(2, std::nullopt, {2, 0, 1, 'a', 1, 'b'})}}});
}

TEST_F(OpenFilesLayout, ReadingLeavesTheFileAsItWas) {
    const Bytes bytes = BuildResourceFile(Mixed());
    std::string path = Write("mixed.rsrc", bytes);
    uint16_t ref = Open(path);
    ASSERT_NE(ref, kNoFile);
    Handle c = nullptr;
    for (int round = 0; round < 2; ++round) {
        Handle a = GetResource(kFsTI, 128);
        Handle b = GetNamedResource(kSTR, Str("s").data());
        c = GetIndexedResource(kFsTI, 2);
        uint8_t buffer[257];
        GetIndexedString(buffer, 2, 2);
        EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{1, 'b', 0}));
        ASSERT_TRUE(a && b && c);
        EXPECT_EQ(Contents(c), Text("wxyz"));
        ReleaseResource(a);
        ReleaseResource(b);
        ReleaseResource(GetResource(kSTRList, 2));
        if (round == 0) ReleaseResource(c);
    }
    UpdateResourceFile(ref);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(ReadWholeFile(path), bytes);
    // Closing with a resource still loaded writes nothing different either.
    CloseResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), bytes);
    EXPECT_EQ(Contents(c), Text("wxyz"));
    DisposeHandle(c);
}

// Bytes that some other writer left behind the map are no part of any resource,
// but a file that was only read keeps them all the same.
TEST_F(OpenFilesLayout, BytesBehindTheMapSurviveAnUnchangedClose) {
    Bytes bytes = BuildResourceFile(Mixed());
    bytes.insert(bytes.end(), {0xDE, 0xAD, 0xBE, 0xEF});
    std::string path = Write("trailing.rsrc", bytes);
    uint16_t ref = Open(path);
    ASSERT_NE(ref, kNoFile);
    ReleaseResource(GetResource(kFsTI, 129));
    CloseResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), bytes);
}

// The older layouts are converted when they are opened: the file on disk then
// holds layout 1500 with the same resources and its conversion-pending flag set.
TEST_F(OpenFilesLayout, OlderLayoutsAreConvertedOnOpen) {
    for (int layout : {1100, 1000}) {
        SCOPED_TRACE(layout);
        FixtureFile old = Mixed();
        old.layout = layout;
        std::string path = Write("old" + std::to_string(layout) + ".rsrc", old);
        uint16_t ref = Open(path);
        ASSERT_NE(ref, kNoFile);
        EXPECT_EQ(ResourceError(), kResourceOk);
        Bytes converted = ReadWholeFile(path);
        FixtureFile parsed;
        std::string why;
        ASSERT_TRUE(ParseResourceFile(converted, &parsed, &why)) << why;
        EXPECT_EQ(parsed.layout, 1500);
        EXPECT_EQ(parsed.conversionPending, 1);
        EXPECT_EQ(FlatResources(parsed), FlatResources(old));
        Handle h = GetNamedResource(kFsTI, Str("alpha").data());
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(Contents(h), Text("abc"));
        ReleaseResource(h);
        CloseResourceFile(ref);
        EXPECT_EQ(ReadWholeFile(path), converted);
    }
}

// ---------------------------------------------------------------------------
// The info block of a file on disk.

using OpenFilesInfoBlock = ChainTest;

TEST_F(OpenFilesInfoBlock, ConversionFlagAndKind) {
    FixtureFile file = Mixed();
    file.kind = FourCC("SkFs");
    const Bytes bytes = BuildResourceFile(file);
    std::string path = Write("info.rsrc", bytes);
    EXPECT_EQ(ResourceFileKind(path.c_str()), FourCC("SkFs"));
    EXPECT_EQ(ConversionPending(path.c_str()), 0);

    EXPECT_EQ(SetConversionPending(path.c_str(), 1), 1);
    EXPECT_EQ(ConversionPending(path.c_str()), 1);
    Bytes expected = bytes;
    expected[36] = 1;
    EXPECT_EQ(ReadWholeFile(path), expected);

    // Only 1 sets the flag; any other value clears it.
    EXPECT_EQ(SetConversionPending(path.c_str(), 2), 1);
    EXPECT_EQ(ConversionPending(path.c_str()), 0);
    EXPECT_EQ(ReadWholeFile(path), bytes);

    // Any non-zero byte counts as pending.
    expected[36] = 0x80;
    WriteWholeFile(path, expected);
    EXPECT_EQ(ConversionPending(path.c_str()), 1);
}

TEST_F(OpenFilesInfoBlock, MissingOrShortFilesGiveZeroAndLeaveResourceError) {
    const Bytes full = BuildResourceFile(Mixed());
    std::string shortPath = Write("short.rsrc", Bytes(full.begin(), full.begin() + 200));
    for (const std::string &path : {temp_.File("missing.rsrc"), shortPath}) {
        SCOPED_TRACE(path);
        ASSERT_EQ(Open(temp_.File("missing.rsrc")), kNoFile);  // ResourceError -193
        EXPECT_EQ(SetConversionPending(path.c_str(), 1), 0);
        EXPECT_EQ(ConversionPending(path.c_str()), 0);
        EXPECT_EQ(ResourceFileKind(path.c_str()), 0u);
        EXPECT_EQ(ResourceError(), kFileNotUsable);
    }
    EXPECT_EQ(ReadWholeFile(shortPath), Bytes(full.begin(), full.begin() + 200));
    EXPECT_FALSE(FileExists(temp_.File("missing.rsrc")));
}

// ---------------------------------------------------------------------------
// Search orders.

using ResourceAccessSearch = ChainTest;

TEST_F(ResourceAccessSearch, GetSearchesTheCurrentFileThenEarlierOnes) {
    std::string a = Write("a", Described({{kFsTI, {Res(128, "same", Text("from A"))}},
                                          {kSTR, {Res(1, "onlyA", Text("A's string"))}}}));
    std::string b = Write(
        "b", Described(
                 {{kFsTI, {Res(128, "same", Text("from B")), Res(200, "onlyB", Text("B only"))}}}));
    ASSERT_EQ(Open(a), 0);
    ASSERT_EQ(Open(b), 1);

    Handle fromB = GetResource(kFsTI, 128);
    EXPECT_EQ(Contents(fromB), Text("from B"));
    EXPECT_EQ(GetNamedResource(kFsTI, Str("same").data()), fromB);
    // Earlier files are searched after the current one.
    Handle string = GetResource(kSTR, 1);
    EXPECT_EQ(Contents(string), Text("A's string"));
    EXPECT_EQ(GetNamedResource(kSTR, Str("onlyA").data()), string);
    EXPECT_EQ(GetOneResource(kSTR, 1), nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);

    UseResourceFile(0);
    Handle fromA = GetResource(kFsTI, 128);
    EXPECT_EQ(Contents(fromA), Text("from A"));
    EXPECT_EQ(GetOneResource(kFsTI, 128), fromA);
    // Files opened after the current one are not searched by Get...
    EXPECT_EQ(GetResource(kFsTI, 200), nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    EXPECT_EQ(GetNamedResource(kFsTI, Str("onlyB").data()), nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    // ...but they are counted.
    EXPECT_EQ(CountResources(kFsTI), 3);
    EXPECT_EQ(CountOneResources(kFsTI), 1u);
    EXPECT_EQ(ResourceError(), kResourceOk);

    for (Handle h : {fromA, fromB, string})
        ReleaseResource(h);
}

TEST_F(ResourceAccessSearch, IndexedGetCountsAllFilesNewestFirst) {
    std::string a = Write(
        "a", Described({{kFsTI,
                         {Res(10, std::nullopt, Text("10")), Res(11, std::nullopt, Text("11"))}}}));
    std::string b = Write("b", Described({{kFsTI, {Res(20, std::nullopt, Text("20"))}}}));
    std::string c = Write("c", Described({{kSTR, {Res(30, std::nullopt, Text("30"))}}}));
    ASSERT_EQ(Open(a), 0);
    ASSERT_EQ(Open(b), 1);
    ASSERT_EQ(Open(c), 2);
    for (uint16_t current : {2, 0, 1}) {
        SCOPED_TRACE(current);
        UseResourceFile(current);
        EXPECT_EQ(CountResources(kFsTI), 3);
        std::vector<int> ids;
        for (int16_t index = 1; index <= 3; ++index) {
            Handle h = GetIndexedResource(kFsTI, index);
            EXPECT_EQ(ResourceError(), kResourceOk);
            ids.push_back(IdOf(h));
            ReleaseResource(h);
        }
        EXPECT_EQ(ids, (std::vector<int>{20, 10, 11}));
        EXPECT_EQ(GetIndexedResource(kFsTI, 4), nullptr);
        EXPECT_EQ(ResourceError(), kResourceNotFound);
        for (int16_t index : {0, -1, -32768}) {
            ResourceError();
            EXPECT_EQ(GetIndexedResource(kFsTI, index), nullptr);
            EXPECT_EQ(ResourceError(), kResourceOk);
        }
    }
}

TEST_F(ResourceAccessSearch, OneIndexedGetStaysInTheCurrentFile) {
    std::string a = Write(
        "a", Described({{kFsTI,
                         {Res(10, std::nullopt, Text("10")), Res(11, std::nullopt, Text("11"))}}}));
    std::string b = Write("b", Described({{kFsTI, {Res(20, std::nullopt, Text("20"))}}}));
    ASSERT_EQ(Open(a), 0);
    ASSERT_EQ(Open(b), 1);
    UseResourceFile(0);
    EXPECT_EQ(CountOneResources(kFsTI), 2u);
    Handle first = GetOneIndexedResource(kFsTI, 1);
    Handle second = GetOneIndexedResource(kFsTI, 2);
    EXPECT_EQ(IdOf(first), 10);
    EXPECT_EQ(IdOf(second), 11);
    EXPECT_EQ(GetOneIndexedResource(kFsTI, 3), nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    EXPECT_EQ(GetOneIndexedResource(kSTR, 1), nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    ResourceError();
    EXPECT_EQ(GetOneIndexedResource(kFsTI, 0), nullptr);
    EXPECT_EQ(ResourceError(), kResourceOk);
    UseResourceFile(1);
    Handle other = GetOneIndexedResource(kFsTI, 1);
    EXPECT_EQ(IdOf(other), 20);
    EXPECT_EQ(GetOneIndexedResource(kFsTI, 2), nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    for (Handle h : {first, second, other})
        ReleaseResource(h);
}

// The first matching type entry and the first matching id win.
TEST_F(ResourceAccessSearch, FirstMatchWins) {
    std::string path =
        Write("dup", Described({{kFsTI,
                                 {Res(5, "n", Text("first")), Res(5, "n2", Text("second")),
                                  Res(6, "n", Text("third"))}}}));
    ASSERT_NE(Open(path), kNoFile);
    Handle h = GetResource(kFsTI, 5);
    EXPECT_EQ(Contents(h), Text("first"));
    EXPECT_EQ(GetNamedResource(kFsTI, Str("n").data()), h);
    Handle second = GetIndexedResource(kFsTI, 2);
    EXPECT_NE(second, h);
    ReleaseResource(h);
    ReleaseResource(second);
}

// ---------------------------------------------------------------------------
// Handles: identity, release, detach.

using ResourceAccessHandles = ChainTest;

TEST_F(ResourceAccessHandles, GetsShareOneHandleUntilReleased) {
    ASSERT_NE(Open(Write("a", Mixed())), kNoFile);
    Handle h = GetResource(kFsTI, 128);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetResource(kFsTI, 128), h);
    EXPECT_EQ(GetIndexedResource(kFsTI, 1), h);
    // A change to the data is seen by later Gets.
    (*h)[0] = 'Z';
    EXPECT_EQ(Contents(GetResource(kFsTI, 128)), Text("Zbc"));

    const uint32_t number = HandleNumber(h);
    const uint32_t registered = RegisteredHandleCount();
    ReleaseResource(h);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(RegisteredHandleCount(), registered - 1);
    Handle again = GetResource(kFsTI, 128);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(HandleNumber(again), number) << "a new Handle";
    EXPECT_EQ(Contents(again), Text("abc")) << "read again from the file";
    ReleaseResource(again);
}

TEST_F(ResourceAccessHandles, DetachHandsTheHandleToTheCaller) {
    ASSERT_NE(Open(Write("a", Mixed())), kNoFile);
    Handle h = GetResource(kFsTI, 129);
    ASSERT_NE(h, nullptr);
    DetachResource(h);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(HomeResourceFile(h), -1);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    Handle fresh = GetResource(kFsTI, 129);
    EXPECT_NE(fresh, h);
    EXPECT_EQ(Contents(fresh), Text("wxyz"));
    EXPECT_EQ(Contents(h), Text("wxyz"));
    // The detached Handle is in no map any more.
    ReleaseResource(h);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    DetachResource(h);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    EXPECT_EQ(GetResource(kFsTI, 129), fresh);
    ReleaseResource(fresh);
    DisposeHandle(h);
}

TEST_F(ResourceAccessHandles, HandlesInNoMapAreNotFound) {
    ASSERT_NE(Open(Write("a", Mixed())), kNoFile);
    Handle stray = NewHandle(4);
    ASSERT_NE(stray, nullptr);
    for (Handle h : {stray, static_cast<Handle>(nullptr)}) {
        ReleaseResource(h);
        EXPECT_EQ(ResourceError(), kResourceNotFound);
        DetachResource(h);
        EXPECT_EQ(ResourceError(), kResourceNotFound);
        EXPECT_EQ(HomeResourceFile(h), -1);
        EXPECT_EQ(ResourceError(), kResourceNotFound);
    }
    EXPECT_EQ(GetHandleSize(stray), 4) << "not disposed";
    DisposeHandle(stray);
}

TEST_F(ResourceAccessHandles, ChangedResourceIsNeitherReleasedNorDetached) {
    const FixtureFile described = Mixed();
    std::string path = Write("a", described);
    uint16_t ref = Open(path);
    ASSERT_NE(ref, kNoFile);
    Handle h = GetResource(kFsTI, 128);
    ASSERT_NE(h, nullptr);
    MarkResourceChanged(h);
    ASSERT_EQ(ResourceError(), kResourceOk);

    ReleaseResource(h);
    EXPECT_EQ(ResourceError(), kResourceOk) << "refused silently";
    EXPECT_EQ(GetResource(kFsTI, 128), h);
    EXPECT_EQ(Contents(h), Text("abc"));
    DetachResource(h);
    EXPECT_EQ(ResourceError(), kChangedNotDetached);
    EXPECT_EQ(HomeResourceFile(h), ref);
    EXPECT_EQ(GetResource(kFsTI, 128), h);

    // The close writes the resource; the file keeps its resources, unmarked.
    CloseResourceFile(ref);
    FixtureFile parsed;
    std::string why;
    ASSERT_TRUE(ParseResourceFile(ReadWholeFile(path), &parsed, &why)) << why;
    EXPECT_EQ(FlatResources(parsed), FlatResources(described));
    DisposeHandle(h);
}

// ---------------------------------------------------------------------------
// Info and home of a Handle.

using ResourceAccessInfo = ChainTest;

TEST_F(ResourceAccessInfo, NamesIdsTypesAndHomes) {
    ASSERT_EQ(Open(Write("a", Mixed())), 0);
    ASSERT_EQ(Open(Write("b", Described({{kWatr, {Res(-5, "water", Text("w"))}}}))), 1);
    Handle unnamed = GetResource(kFsTI, 129);
    Handle named = GetResource(kWatr, -5);
    ASSERT_TRUE(unnamed && named);

    int16_t id = 0;
    uint32_t type = 0;
    uint8_t name[256];
    std::memset(name, 0xEE, sizeof name);
    GetResourceInfo(unnamed, &id, &type, name);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(id, 129);
    EXPECT_EQ(type, kFsTI);
    EXPECT_EQ(name[0], 0) << "an empty name";

    GetResourceInfo(named, &id, &type, name);
    EXPECT_EQ(id, -5);
    EXPECT_EQ(type, kWatr);
    EXPECT_EQ(Bytes(name, name + 6), Str("water"));

    EXPECT_EQ(HomeResourceFile(unnamed), 0);
    EXPECT_EQ(HomeResourceFile(named), 1);
    EXPECT_EQ(ResourceError(), kResourceOk);

    // A Handle in no map leaves the outputs alone.
    Handle stray = NewHandle(2);
    id = 42;
    type = 43;
    std::memset(name, 0xEE, sizeof name);
    GetResourceInfo(stray, &id, &type, name);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    EXPECT_EQ(id, 42);
    EXPECT_EQ(type, 43u);
    EXPECT_EQ(name[0], 0xEE);
    GetResourceInfo(nullptr, &id, &type, name);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    EXPECT_EQ(id, 42);
    DisposeHandle(stray);
    ReleaseResource(unnamed);
    ReleaseResource(named);
}

TEST_F(ResourceAccessInfo, UniqueIdSkipsIdsTakenInAnyFile) {
    std::string a = Write("a", Described({{kFsTI, {Res(1280, std::nullopt, Text("x"))}},
                                          {kSTR, {Res(1282, std::nullopt, Text("x"))}}}));
    std::string b = Write("b", Described({{kFsTI, {Res(1281, std::nullopt, Text("x"))}},
                                          {kSTR, {Res(1281, std::nullopt, Text("x"))}}}));
    ASSERT_EQ(Open(a), 0);
    EXPECT_EQ(UniqueResourceId(kFsTI), 1281);
    EXPECT_EQ(UniqueResourceId(kSTR), 1280);
    ASSERT_EQ(Open(b), 1);
    EXPECT_EQ(UniqueResourceId(kFsTI), 1282);
    // 1280 is free, whatever other ids are taken.
    EXPECT_EQ(UniqueResourceId(kSTR), 1280);
    EXPECT_EQ(UniqueResourceId(kFADP), 1280);
    // The walk starts over after every hit: 1281 is found only in the later file
    // after 1280 was found in the earlier one, and 1282 in the earlier one again.
    std::string c = Write("c", Described({{kSTR, {Res(1280, std::nullopt, Text("x"))}}}));
    ASSERT_EQ(Open(c), 2);
    EXPECT_EQ(UniqueResourceId(kSTR), 1283);
    UseResourceFile(0);
    EXPECT_EQ(UniqueResourceId(kSTR), 1283) << "all files, whatever is current";
    EXPECT_EQ(ResourceError(), kResourceOk);
}

// ---------------------------------------------------------------------------
// Strings.

using ResourceAccessStrings = ChainTest;

TEST_F(ResourceAccessStrings, IndexedStrings) {
    std::string path = Write(
        "strings",
        Described({{kSTRList,
                    {Res(1, std::nullopt,
                         {3, 0, 3, 'o', 'n', 'e', 3, 't', 'w', 'o', 5, 't', 'h', 'r', 'e', 'e'}),
                     Res(2, std::nullopt, {5, 0, 1, 'a', 1, 'b'}),       // count above the strings
                     Res(3, std::nullopt, {2, 0, 1, 'a', 9, 'b', 'c'}),  // length past the end
                     Res(4, std::nullopt, {1}),                          // no room for the count
                     Res(5, std::nullopt, {0xFF, 0xFF, 1, 'a'}),         // negative count
                     Res(6, std::nullopt, {}),                           // no data
                     Res(7, std::nullopt, {1, 0, 0}),                    // one empty string
                     Res(8, std::nullopt, {1, 0, 255})}},                // 255 characters claimed
                   {kSTR, {Res(9, "single", Text("\x04text"))}}}));
    ASSERT_NE(Open(path), kNoFile);
    auto get = [](int16_t id, int16_t index) {
        uint8_t buffer[257];
        std::memset(buffer, 0xEE, sizeof buffer);
        uint8_t *result = GetIndexedString(buffer, id, index);
        EXPECT_EQ(result, buffer);
        // The string with its length byte and the terminating zero.
        return Bytes(buffer, buffer + std::min<size_t>(257, buffer[0] + 2u));
    };
    const Bytes empty = {0, 0};
    EXPECT_EQ(get(1, 0), (Bytes{3, 'o', 'n', 'e', 0}));
    EXPECT_EQ(get(1, 1), (Bytes{3, 'o', 'n', 'e', 0}));
    EXPECT_EQ(get(1, 2), (Bytes{3, 't', 'w', 'o', 0}));
    EXPECT_EQ(get(1, 3), (Bytes{5, 't', 'h', 'r', 'e', 'e', 0}));
    EXPECT_EQ(get(1, 4), empty);
    EXPECT_EQ(get(1, -1), empty);
    EXPECT_EQ(get(2, 2), (Bytes{1, 'b', 0}));
    EXPECT_EQ(get(2, 3), empty);
    EXPECT_EQ(get(2, 5), empty);
    EXPECT_EQ(get(3, 1), (Bytes{1, 'a', 0}));
    EXPECT_EQ(get(3, 2), empty);
    EXPECT_EQ(get(4, 0), empty);
    EXPECT_EQ(get(4, 1), empty);
    EXPECT_EQ(get(5, 1), empty);
    EXPECT_EQ(get(6, 1), empty);
    EXPECT_EQ(get(7, 1), empty);
    EXPECT_EQ(get(8, 1), empty);
    EXPECT_EQ(get(99, 1), empty);
    EXPECT_EQ(ResourceError(), kResourceNotFound);

    Handle single = GetStringResource(9);
    EXPECT_EQ(Contents(single), Text("\x04text"));
    EXPECT_EQ(GetStringResource(10), nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    ReleaseResource(single);
    // The lists stay loaded in their slots until released.
    for (int16_t id = 1; id <= 8; ++id) {
        if (Handle h = GetResource(kSTRList, id)) ReleaseResource(h);
    }
}

// ---------------------------------------------------------------------------
// Loading: on demand from a fresh copy of the map, and preloading at open.

using ResourceAccessLoading = ChainTest;

TEST_F(ResourceAccessLoading, LoadOnDemandReadsTheFileAsItIsNow) {
    std::string path = Write(
        "a", Described({{kFsTI,
                         {Res(128, std::nullopt, Text("old")), Res(129, std::nullopt, Text("keep")),
                          Res(130, std::nullopt, Text("gone"))}}}));
    uint16_t ref = Open(path);
    ASSERT_NE(ref, kNoFile);
    Handle kept = GetResource(kFsTI, 129);
    ASSERT_NE(kept, nullptr);

    // Another program replaces the file: other types first, the entries elsewhere.
    const Bytes replaced = BuildResourceFile(Described(
        {{kSTR, {Res(1, "zz", Text("padding padding"))}},
         {kFsTI, {Res(129, std::nullopt, Text("KEEP2")), Res(128, std::nullopt, Text("NEW!"))}}}));
    WriteWholeFile(path, replaced);

    Handle fresh = GetResource(kFsTI, 128);
    EXPECT_EQ(Contents(fresh), Text("NEW!"));
    EXPECT_EQ(GetResource(kFsTI, 129), kept) << "loaded data is not read again";
    EXPECT_EQ(Contents(kept), Text("keep"));
    // An entry that the file no longer holds cannot be loaded.
    EXPECT_EQ(GetResource(kFsTI, 130), nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    ReleaseResource(kept);
    Handle reloaded = GetResource(kFsTI, 129);
    EXPECT_EQ(Contents(reloaded), Text("KEEP2"));
    ReleaseResource(reloaded);
    ReleaseResource(fresh);

    // The map in memory no longer describes the file, so closing must not write it.
    CloseResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), replaced);
}

TEST_F(ResourceAccessLoading, MissingFileFailsTheLoadUntilItIsBack) {
    const Bytes bytes =
        BuildResourceFile(Described({{kFsTI, {Res(128, std::nullopt, Text("data"))}}}));
    std::string path = Write("a", bytes);
    uint16_t ref = Open(path);
    ASSERT_NE(ref, kNoFile);
    std::string aside = temp_.File("aside");
    ASSERT_EQ(std::rename(path.c_str(), aside.c_str()), 0);
    EXPECT_EQ(GetResource(kFsTI, 128), nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    EXPECT_EQ(GetIndexedResource(kFsTI, 1), nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    EXPECT_EQ(CountResources(kFsTI), 1) << "the map in memory still names it";
    // The slot stayed empty: once the file is back, the next Get loads it.
    ASSERT_EQ(std::rename(aside.c_str(), path.c_str()), 0);
    Handle h = GetResource(kFsTI, 128);
    EXPECT_EQ(Contents(h), Text("data"));
    ReleaseResource(h);
    CloseResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), bytes);
}

TEST_F(ResourceAccessLoading, PreloadedDataNeedsNoFurtherOpen) {
    const Bytes bytes =
        BuildResourceFile(Described({{kFsTI,
                                      {Res(128, std::nullopt, Text("pre"), kAttrPreload),
                                       Res(129, std::nullopt, Text("lazy"))}}}));
    std::string path = Write("a", bytes);
    FaultPlatform platform;
    const uint32_t handles = RegisteredHandleCount();
    uint16_t ref = Open(path);
    ASSERT_NE(ref, kNoFile);
    EXPECT_EQ(RegisteredHandleCount(), handles + 1) << "one resource loaded at open";

    const uint32_t opens = platform.Calls(PlatformOp::Open);
    Handle pre = GetResource(kFsTI, 128);
    EXPECT_EQ(Contents(pre), Text("pre"));
    EXPECT_EQ(platform.Calls(PlatformOp::Open), opens);
    Handle lazy = GetResource(kFsTI, 129);
    EXPECT_EQ(Contents(lazy), Text("lazy"));
    EXPECT_EQ(platform.Calls(PlatformOp::Open), opens + 1);
    ReleaseResource(pre);
    ReleaseResource(lazy);
    CloseResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), bytes);
}

// A preload whose data cannot be loaded leaves the slot empty and the file usable.
TEST_F(ResourceAccessLoading, FailedPreloadLeavesTheSlotEmpty) {
    FixtureResource broken = Res(128, std::nullopt, {}, kAttrPreload);
    broken.dataOffset = 0x7FFFF0;
    std::string path = Write(
        "a", Described({{kFsTI, {broken, Res(129, std::nullopt, Text("ok"), kAttrPreload)}}}));
    const uint32_t handles = RegisteredHandleCount();
    uint16_t ref = Open(path);
    ASSERT_NE(ref, kNoFile);
    EXPECT_EQ(RegisteredHandleCount(), handles + 1);
    EXPECT_EQ(GetResource(kFsTI, 128), nullptr);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    Handle ok = GetResource(kFsTI, 129);
    EXPECT_EQ(Contents(ok), Text("ok"));
    ReleaseResource(ok);
}

}  // namespace
