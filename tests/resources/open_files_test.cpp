// The open files chain (numbers, the current file, duplicate opens, closing,
// creating, the info block operations) and resource access across the chain
// (search orders, Handle identity and ownership, unique ids, strings, load on
// demand and preloading).
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "common/resource_test.h"
#include "resources/map_block.h"

namespace {

class OpenFiles : public ResourceFileTest {
  protected:
    // A file holding one FsTI resource whose name and data are the file's name.
    std::string Simple(const std::string &name) {
        return Write(name, Described({{kFsTI, {Res(128, name, Text(name))}}}));
    }
    // The id of the index-th resource of type over all files.
    int IndexedId(int16_t index) {
        return std::get<0>(InfoOf(Own(GetIndexedResource(kFsTI, index), kFsTI)));
    }
};

TEST_F(OpenFiles, NumbersFollowTheLastFileAndClosingMovesTheCurrentOne) {
    const std::string a = Simple("a"), b = Simple("b"), c = Simple("c"), d = Simple("d");
    EXPECT_EQ(Open(a), 0);
    EXPECT_EQ(Open(b), 1);
    CloseResourceFile(1);
    EXPECT_EQ(Open(c), 1);
    // Closing a file in the middle frees no number: the next is last + 1.
    EXPECT_EQ(Open(b), 2);
    EXPECT_EQ(Open(d), 3);
    CloseResourceFile(1);
    EXPECT_EQ(ChainNumbers(), (std::vector<uint16_t>{0, 2, 3}));
    // Closing the current file makes the last one current, not the one before;
    // closing another leaves the current one alone.
    UseResourceFile(2);
    CloseResourceFile(2);
    EXPECT_EQ(CurrentResourceFile(), 3);
    UseResourceFile(0);
    CloseResourceFile(3);
    EXPECT_EQ(CurrentResourceFile(), 0);
    // Closing the only file keeps its number current; the next open gets 0.
    EXPECT_EQ(Open(b), 1);
    CloseResourceFile(0);
    CloseResourceFile(1);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(CurrentResourceFile(), 1);
    EXPECT_EQ(Open(c), 0);
    // The same path in other letter case gives the first number and leaves the
    // current file alone; one close closes it for every opener.
    EXPECT_EQ(Open(d), 1);
    std::string upper = c;
    for (char &ch : upper)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    EXPECT_EQ(Open(upper), 0);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(CurrentResourceFile(), 1);
    CloseResourceFile(0);
    EXPECT_EQ(ChainNumbers(), (std::vector<uint16_t>{1}));

    // Bad paths and numbers fail with -193, which reading the code clears.
    for (const std::string &path : {temp_.File("missing.rsrc"), std::string(), temp_.path()}) {
        EXPECT_EQ(Open(path), kNoFile) << path;
        EXPECT_EQ(ResourceError(), kFileNotUsable);
        EXPECT_EQ(ResourceError(), kResourceOk);
    }
    for (uint16_t bad : {uint16_t{5}, kNoFile}) {
        CloseResourceFile(bad);
        EXPECT_EQ(ResourceError(), kFileNotUsable);
        UpdateResourceFile(bad);
        EXPECT_EQ(ResourceError(), kFileNotUsable);
    }
    EXPECT_EQ(ChainNumbers(), (std::vector<uint16_t>{1}));
    // Any number can be made current; the calls of the current file then find
    // nothing, while the calls over all files still see the chain.
    UseResourceFile(77);
    EXPECT_EQ(CurrentResourceFile(), 77);
    EXPECT_TRUE(NotFound(GetOneResource(kFsTI, 128)));
    EXPECT_TRUE(NotFound(GetResource(kFsTI, 128)));
    EXPECT_TRUE(NotFound(GetOneIndexedResource(kFsTI, 1)));
    EXPECT_EQ(CountOneResources(kFsTI), 0u);
    EXPECT_EQ(CountResources(kFsTI), 1);
    EXPECT_EQ(HomeResourceFile(Own(GetIndexedResource(kFsTI, 1), kFsTI)), 1);
}

TEST_F(OpenFiles, NewFileIsTheEmptyFileOfTheFormat) {
    const Bytes empty = BuildResourceFile(FixtureFile{});
    ASSERT_EQ(empty.size(), 286u);
    const std::string path = temp_.File("new.rsrc");
    EXPECT_EQ(CreateResourceFile(Str255Of(path).data()), 1);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_TRUE(ChainNumbers().empty()) << "creating does not open";
    EXPECT_EQ(ReadWholeFile(path), empty);
    const uint16_t ref = Open(path);
    EXPECT_EQ(CountResources(kFsTI), 0);
    EXPECT_TRUE(NotFound(GetIndexedResource(kFsTI, 1)));
    EXPECT_EQ(UniqueResourceId(kFsTI), 1280);
    CloseResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), empty);
    // An existing file is not touched, and a missing folder makes no file.
    for (const std::string &where : {path, temp_.File("no/such/folder.rsrc")}) {
        EXPECT_EQ(CreateResourceFile(Str255Of(where).data()), kGenericFailure);
        EXPECT_EQ(ResourceError(), kCannotCreate);
    }
    EXPECT_EQ(ReadWholeFile(path), empty);
    EXPECT_EQ(ListFolder(temp_.path()), std::vector<std::string>{"new.rsrc"});
}

FixtureFile Mixed() {
    return Described(
        {{kFsTI, {Res(128, "alpha", Text("abc")), Res(129, std::nullopt, Text("wxyz"))}},
         {kSTR, {Res(1, "s", Text("\x05hello"))}},
         {kSTRList, {Res(2, std::nullopt, {2, 0, 1, 'a', 1, 'b'})}}});
}

TEST_F(OpenFiles, InfoBlockOfAFileOnDisk) {
    FixtureFile file = Mixed();
    file.kind = kSkFs;
    const Bytes bytes = BuildResourceFile(file);
    const std::string path = Write("info.rsrc", bytes);
    EXPECT_EQ(ResourceFileKind(path.c_str()), kSkFs);
    EXPECT_EQ(ConversionPending(path.c_str()), 0);
    EXPECT_EQ(SetConversionPending(path.c_str(), 1), 1);
    EXPECT_EQ(ConversionPending(path.c_str()), 1);
    Bytes expected = bytes;
    expected[36] = 1;
    EXPECT_EQ(ReadWholeFile(path), expected);
    // Only 1 sets the flag; any other value clears it; any non-zero byte is set.
    EXPECT_EQ(SetConversionPending(path.c_str(), 2), 1);
    EXPECT_EQ(ReadWholeFile(path), bytes);
    expected[36] = 0x80;
    WriteWholeFile(path, expected);
    EXPECT_EQ(ConversionPending(path.c_str()), 1);
    // Missing or short files give 0 and leave ResourceError alone.
    const Bytes cut(bytes.begin(), bytes.begin() + 200);
    for (const std::string &bad : {temp_.File("missing.rsrc"), Write("short.rsrc", cut)}) {
        ASSERT_EQ(Open(temp_.File("missing.rsrc")), kNoFile);  // ResourceError -193
        EXPECT_EQ(SetConversionPending(bad.c_str(), 1), 0);
        EXPECT_EQ(ConversionPending(bad.c_str()), 0);
        EXPECT_EQ(ResourceFileKind(bad.c_str()), 0u);
        EXPECT_EQ(ResourceError(), kFileNotUsable);
    }
    EXPECT_EQ(ReadWholeFile(temp_.File("short.rsrc")), cut);
    EXPECT_FALSE(FileExists(temp_.File("missing.rsrc")));
}

// Get searches the current file, then the earlier ones, never the later ones;
// indexed access over all files counts the newest file first; unique ids skip
// ids taken in any file.
TEST_F(OpenFiles, SearchOrdersAcrossTheChain) {
    ASSERT_EQ(
        Open(Write(
            "a",
            Described(
                {{kFsTI, {Res(128, "same", Text("from A")), Res(11, {}, {1}), Res(1280, {}, {1})}},
                 {kSTR, {Res(1, "onlyA", Text("A's")), Res(1282, {}, {1})}}}))),
        0);
    ASSERT_EQ(Open(Write("b", Described({{kFsTI,
                                          {Res(128, "same", Text("from B")), Res(128, "2nd", {2}),
                                           Res(-200, {}, Text("B only")), Res(1281, {}, {1})}},
                                         {kSTR, {Res(1281, {}, {1})}}}))),
              1);
    // The first matching id and the first matching name win; the second 128
    // has a slot of its own.
    Handle fromB = Own(GetResource(kFsTI, 128), kFsTI);
    EXPECT_EQ(BytesOf(fromB), Text("from B"));
    EXPECT_EQ(GetNamedResource(kFsTI, Str255Of("same").data()), fromB);
    EXPECT_NE(Own(GetIndexedResource(kFsTI, 2), kFsTI), fromB);
    Handle string = Own(GetResource(kSTR, 1), kSTR);
    EXPECT_EQ(GetNamedResource(kSTR, Str255Of("onlyA").data()), string);
    EXPECT_TRUE(NotFound(GetOneResource(kSTR, 1)));
    EXPECT_EQ(InfoOf(Own(GetResource(kFsTI, -200), kFsTI)), std::tuple(-200, kFsTI, Str255Of("")));
    EXPECT_EQ(InfoOf(string), std::tuple(1, kSTR, Str255Of("onlyA")));
    EXPECT_EQ(HomeResourceFile(string), 0);
    EXPECT_EQ(HomeResourceFile(fromB), 1);
    // A Handle in no map leaves the outputs alone.
    int16_t id = 42;
    uint32_t type = 43;
    uint8_t name[256] = {0xEE};
    GetResourceInfo(Own(NewHandle(2), kFsTI), &id, &type, name);
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    EXPECT_EQ(std::tuple(id, type, name[0]), std::tuple(int16_t{42}, 43u, uint8_t{0xEE}));
    // The walk for a unique id starts over after every hit.
    EXPECT_EQ(UniqueResourceId(kFsTI), 1282);
    EXPECT_EQ(UniqueResourceId(kSTR), 1280);
    ASSERT_EQ(Open(Write("c", Described({{kSTR, {Res(1280, {}, Text("x"))}}}))), 2);
    EXPECT_EQ(UniqueResourceId(kSTR), 1283);

    for (uint16_t current : {2, 0, 1}) {
        SCOPED_TRACE(current);
        UseResourceFile(current);
        EXPECT_EQ(CountResources(kFsTI), 7);
        EXPECT_EQ(UniqueResourceId(kSTR), 1283) << "all files, whatever is current";
        EXPECT_EQ(IndexedId(4), 1281);
        EXPECT_EQ(IndexedId(5), 128);
        EXPECT_EQ(IndexedId(7), 1280);
        EXPECT_TRUE(NotFound(GetIndexedResource(kFsTI, 8)));
        for (int16_t index : {0, -1, -32768}) {
            EXPECT_EQ(GetIndexedResource(kFsTI, index), nullptr);
            EXPECT_EQ(ResourceError(), kResourceOk);
        }
    }
    UseResourceFile(0);
    EXPECT_EQ(BytesOf(Own(GetResource(kFsTI, 128), kFsTI)), Text("from A"));
    EXPECT_TRUE(NotFound(GetResource(kFsTI, -200))) << "later files are not searched";
    EXPECT_EQ(CountOneResources(kFsTI), 3u);
    EXPECT_EQ(std::get<0>(InfoOf(Own(GetOneIndexedResource(kFsTI, 2), kFsTI))), 11);
    EXPECT_TRUE(NotFound(GetOneIndexedResource(kFsTI, 4)));
    EXPECT_EQ(GetOneIndexedResource(kFsTI, 0), nullptr);
    EXPECT_EQ(ResourceError(), kResourceOk);
}

// A Get of a loaded resource gives the same Handle until it is released; a
// detached Handle is the caller's; a resource marked changed is neither
// released nor detached. A file that was only read stays as it was, with the
// bytes that some other writer left behind the map.
TEST_F(OpenFiles, HandlesAreSharedReleasedAndDetached) {
    Bytes bytes = BuildResourceFile(Mixed());
    bytes.insert(bytes.end(), {0xDE, 0xAD, 0xBE, 0xEF});
    const std::string path = Write("mixed.rsrc", bytes);
    const uint16_t ref = Open(path);
    Handle h = GetResource(kFsTI, 128);
    EXPECT_EQ(GetIndexedResource(kFsTI, 1), h);
    (*h)[0] = 'Z';  // seen by later Gets, never written
    EXPECT_EQ(BytesOf(GetNamedResource(kFsTI, Str255Of("alpha").data())), Text("Zbc"));
    const uint32_t registered = RegisteredHandleCount();
    ReleaseResource(h);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(RegisteredHandleCount(), registered - 1);
    EXPECT_EQ(BytesOf(Get(kFsTI, 128)), Text("abc")) << "read again from the file";
    uint8_t buffer[257];
    GetIndexedString(buffer, 2, 2);
    EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{1, 'b', 0}));
    ReleaseResource(GetResource(kSTRList, 2));

    Handle detached = Own(GetResource(kFsTI, 129), kFsTI);
    DetachResource(detached);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_NE(Get(kFsTI, 129), detached);
    EXPECT_EQ(BytesOf(detached), Text("wxyz"));
    Handle stray = Own(NewHandle(4), kFsTI);
    for (Handle none : {detached, stray, static_cast<Handle>(nullptr)}) {
        ReleaseResource(none);
        EXPECT_EQ(ResourceError(), kResourceNotFound);
        DetachResource(none);
        EXPECT_EQ(ResourceError(), kResourceNotFound);
        EXPECT_EQ(HomeResourceFile(none), -1);
        EXPECT_EQ(ResourceError(), kResourceNotFound);
    }
    EXPECT_EQ(GetHandleSize(stray), 4) << "not disposed";
    UpdateResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), bytes);

    Handle changed = Get(kSTR, 1);
    MarkResourceChanged(changed);
    ReleaseResource(changed);
    EXPECT_EQ(ResourceError(), kResourceOk) << "refused silently";
    DetachResource(changed);
    EXPECT_EQ(ResourceError(), kChangedNotDetached);
    EXPECT_EQ(GetResource(kSTR, 1), changed);
    // The close writes the resource; the file keeps its resources, unmarked,
    // and a Handle still loaded outlives its file.
    Handle kept = GetResource(kFsTI, 129);
    CloseResourceFile(ref);
    EXPECT_EQ(FlatResources(Parse(ReadWholeFile(path))), FlatResources(Mixed()));
    EXPECT_EQ(BytesOf(kept), Text("wxyz"));
    EXPECT_EQ(HomeResourceFile(kept), -1);
}

TEST_F(OpenFiles, IndexedStrings) {
    const Bytes lists[] = {{3, 0, 3, 'o', 'n', 'e', 3, 't', 'w', 'o', 5, 't', 'h', 'r', 'e', 'e'},
                           {5, 0, 1, 'a', 1, 'b'},       // count above the strings
                           {2, 0, 1, 'a', 9, 'b', 'c'},  // length past the end
                           {1},                          // no room for the count
                           {0xFF, 0xFF, 1, 'a'},         // negative count
                           {},                           // no data
                           {1, 0, 0},                    // one empty string
                           {1, 0, 255}};                 // 255 characters claimed
    FixtureFile file = Described({{kSTRList, {}}, {kSTR, {Res(9, "single", Text("\x04text"))}}});
    for (const Bytes &list : lists)
        file.types[0].resources.push_back(
            Res(static_cast<int16_t>(file.types[0].resources.size() + 1), {}, list));
    ASSERT_NE(Open(Write("strings", file)), kNoFile);
    struct Case {
        int16_t id;
        int16_t index;
        const char *text;  // the string's characters; every other string is empty
    };
    for (const Case &c :
         {Case{1, 0, "one"}, Case{1, 1, "one"}, Case{1, 2, "two"}, Case{1, 3, "three"},
          Case{1, 4, ""}, Case{1, -1, ""}, Case{2, 2, "b"}, Case{2, 3, ""}, Case{2, 5, ""},
          Case{3, 1, "a"}, Case{3, 2, ""}, Case{4, 0, ""}, Case{4, 1, ""}, Case{5, 1, ""},
          Case{6, 1, ""}, Case{7, 1, ""}, Case{8, 1, ""}, Case{99, 1, ""}}) {
        uint8_t buffer[257];
        std::memset(buffer, 0xEE, sizeof buffer);
        EXPECT_EQ(GetIndexedString(buffer, c.id, c.index), buffer);
        Bytes expected = Str255Of(c.text);
        expected.push_back(0);
        EXPECT_EQ(Bytes(buffer, buffer + std::min<size_t>(257, buffer[0] + 2u)), expected)
            << c.id << "/" << c.index;
    }
    EXPECT_EQ(ResourceError(), kResourceNotFound);
    EXPECT_EQ(BytesOf(Own(GetStringResource(9), kSTR)), Text("\x04text"));
    EXPECT_TRUE(NotFound(GetStringResource(10)));
    // The lists stay loaded in their slots until released.
    for (int16_t id = 1; id <= 8; ++id)
        Get(kSTRList, id);
}

// Preloaded data is in its slot after the open and needs no further open (a
// preload that cannot be loaded leaves its slot empty); other data is loaded on
// demand from the file as it is then, through a fresh copy of its map.
TEST_F(OpenFiles, PreloadAndLoadOnDemand) {
    FixtureResource broken = Res(131, {}, {}, kAttrPreload);
    broken.dataOffset = 0x7FFFF0;
    const std::string path =
        Write("a", Described({{kFsTI,
                               {Res(128, {}, Text("pre"), kAttrPreload), Res(129, {}, Text("lazy")),
                                Res(130, {}, Text("gone")), broken}}}));
    FaultPlatform platform;
    const uint32_t handles = RegisteredHandleCount();
    const uint16_t ref = Open(path);
    EXPECT_EQ(RegisteredHandleCount(), handles + 1) << "one resource loaded at open";
    const uint32_t opens = platform.Calls(PlatformOp::Open);
    Handle pre = GetResource(kFsTI, 128);
    EXPECT_EQ(BytesOf(pre), Text("pre"));
    EXPECT_EQ(platform.Calls(PlatformOp::Open), opens);
    EXPECT_TRUE(NotFound(GetResource(kFsTI, 131)));
    // Another program replaces the file: other types first, the entries elsewhere.
    const Bytes replaced = BuildResourceFile(
        Described({{kSTR, {Res(1, "zz", Text("padding padding"))}},
                   {kFsTI, {Res(129, {}, Text("LAZY")), Res(128, {}, Text("NEW!"))}}}));
    WriteWholeFile(path, replaced);
    EXPECT_EQ(BytesOf(Get(kFsTI, 129)), Text("LAZY"));
    EXPECT_EQ(GetResource(kFsTI, 128), pre) << "loaded data is not read again";
    EXPECT_TRUE(NotFound(GetResource(kFsTI, 130))) << "no longer in the file";
    ReleaseResource(pre);
    EXPECT_EQ(BytesOf(Get(kFsTI, 128)), Text("NEW!"));
    // The map in memory no longer describes the file, so closing must not write it.
    CloseResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), replaced);
}

}  // namespace
