// The open files chain, the info block, and access across the chain.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/resource_test.h"
#include "resources/map_block.h"

namespace {

class OpenFiles : public ResourceFileTest {
  protected:
    // A file holding one FsTI 128 named after the file.
    std::string Simple(const std::string &name) {
        return Write(name, Described({{kFsTI, {Res(128, name, Text(name))}}}));
    }
    int IndexedId(int16_t index) {
        return std::get<0>(InfoOf(Own(GetIndexedResource(kFsTI, index), kFsTI)));
    }
};

TEST_F(OpenFiles, NumbersAndTheCurrentFile) {
    const std::string a = Simple("a"), b = Simple("b"), c = Simple("c"), d = Simple("d");
    EXPECT_EQ(Open(a), 0);
    EXPECT_EQ(Open(b), 1);
    CloseResourceFile(1);
    EXPECT_EQ(Open(c), 1);
    EXPECT_EQ(Open(b), 2) << "the next number is last + 1";
    EXPECT_EQ(Open(d), 3);
    CloseResourceFile(1);
    // Closing the current file makes the last one current; closing another
    // leaves the current one alone; closing the only one keeps its number.
    UseResourceFile(2);
    CloseResourceFile(2);
    EXPECT_EQ(CurrentResourceFile(), 3);
    UseResourceFile(0);
    CloseResourceFile(3);
    EXPECT_EQ(CurrentResourceFile(), 0);
    EXPECT_EQ(Open(b), 1);
    CloseResourceFile(0);
    CloseResourceFile(1);
    EXPECT_EQ(CurrentResourceFile(), 1);
    EXPECT_EQ(Open(c), 0);
    // The same path in other letter case gives the first number and leaves the current file alone.
    EXPECT_EQ(Open(d), 1);
    Open(temp_.File("missing.rsrc"));  // its error, left unread, goes with the next open
    EXPECT_EQ(Open(c.substr(0, c.size() - 1) + "C"), 0);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_EQ(CurrentResourceFile(), 1);
    CloseResourceFile(0);
    // Bad paths and numbers fail with -193, which reading the code clears.
    for (const std::string &path : {temp_.File("missing.rsrc"), std::string(), temp_.path()}) {
        EXPECT_EQ(Open(path), kNoFile) << path;
        EXPECT_EQ(ResourceError(), -193);
        EXPECT_EQ(ResourceError(), kResourceOk);
        CloseResourceFile(path.empty() ? kNoFile : 5);
        EXPECT_EQ(ResourceError(), kFileNotUsable);
        UpdateResourceFile(path.empty() ? 5 : kNoFile);
        EXPECT_EQ(ResourceError(), kFileNotUsable);
    }
    EXPECT_EQ(ChainNumbers(), (std::vector<uint16_t>{1}));
    // Any number can be current; the one-file calls then find nothing.
    UseResourceFile(77);
    EXPECT_EQ(CurrentResourceFile(), 77);
    EXPECT_TRUE(NotFound(GetResource(kFsTI, 128)));
    EXPECT_EQ(CountOneResources(kFsTI), 0u);
    EXPECT_EQ(CountResources(kFsTI), 1);
}

// A created file is the empty file of the format and is not opened; the
// conversion flag (1 sets, anything else clears; any non-zero byte reads as
// set) and the kind are read and set on a closed file.
TEST_F(OpenFiles, CreatedFilesAndTheInfoBlock) {
    const std::string path = temp_.File("new.rsrc");
    EXPECT_EQ(CreateResourceFile(Str255Of(path).data()), 1);
    EXPECT_TRUE(ChainNumbers().empty());
    for (const std::string &where : {path, temp_.File("no/such/folder.rsrc")}) {
        EXPECT_EQ(CreateResourceFile(Str255Of(where).data()), kGenericFailure);
        EXPECT_EQ(ResourceError(), -48);
    }
    EXPECT_EQ(ReadWholeFile(path), BuildResourceFile(FixtureFile{}));
    {
        FaultPlatform platform;  // a file that could not be written is taken away
        platform.FailNth(PlatformOp::Write, 1);
        EXPECT_EQ(CreateResourceFile(Str255Of(temp_.File("torn.rsrc")).data()), kGenericFailure);
        EXPECT_EQ(ResourceError(), -48);
    }
    EXPECT_FALSE(FileExists(temp_.File("torn.rsrc")));

    FixtureFile file = Described({{kFsTI, {Res(1, "a", Text("abc"))}}});
    file.kind = kSkFs;
    const Bytes bytes = BuildResourceFile(file);
    const std::string infoPath = Write("info.rsrc", bytes);
    const char *info = infoPath.c_str();
    EXPECT_EQ(ResourceFileKind(info), kSkFs);
    EXPECT_EQ(ConversionPending(info), 0);
    EXPECT_EQ(SetConversionPending(info, 1), 1);
    Bytes expected = bytes;
    expected[36] = 1;
    EXPECT_EQ(ReadWholeFile(infoPath), expected);
    EXPECT_EQ(SetConversionPending(info, 2), 1);
    EXPECT_EQ(ReadWholeFile(infoPath), bytes);
    expected[36] = 0x80;
    WriteWholeFile(infoPath, expected);
    EXPECT_EQ(ConversionPending(info), 1);
    // Missing or short files give 0 and leave ResourceError alone.
    const Bytes cut(bytes.begin(), bytes.begin() + 200);
    for (const std::string &bad : {temp_.File("missing.rsrc"), Write("short.rsrc", cut)}) {
        ASSERT_EQ(Open(temp_.File("missing.rsrc")), kNoFile);
        EXPECT_EQ(SetConversionPending(bad.c_str(), 1), 0);
        EXPECT_EQ(ConversionPending(bad.c_str()), 0);
        EXPECT_EQ(ResourceFileKind(bad.c_str()), 0u);
        EXPECT_EQ(ResourceError(), kFileNotUsable);
    }
    EXPECT_EQ(ReadWholeFile(temp_.File("short.rsrc")), cut);
}

// Get searches the current file, then the earlier ones; indexed access over
// all files counts the newest file first; unique ids skip ids of every file.
TEST_F(OpenFiles, SearchOrdersAcrossTheChain) {
    ASSERT_EQ(Open(Write("a", Described({{kFsTI,
                                          {Res(128, "same", Text("from A")), Res(11, {}, {1}),
                                           Res(1280, {}, {1})}},
                                         {kSTR, {Res(1, "onlyA", Text("A")), Res(1282, {})}}}))),
              0);
    ASSERT_EQ(Open(Write("b", Described({{kFsTI,
                                          {Res(128, "same", Text("from B")), Res(128, "2nd", {2}),
                                           Res(-200, {}, Text("B")), Res(1281, {}, {1})}},
                                         {kSTR, {Res(1281, {})}}}))),
              1);
    Handle fromB = Own(GetResource(kFsTI, 128), kFsTI);
    EXPECT_EQ(BytesOf(fromB), Text("from B"));
    EXPECT_EQ(GetNamedResource(kFsTI, Str255Of("same").data()), fromB);
    EXPECT_NE(Own(GetIndexedResource(kFsTI, 2), kFsTI), fromB) << "the second 128";
    Handle string = Own(GetResource(kSTR, 1), kSTR);
    EXPECT_EQ(GetNamedResource(kSTR, Str255Of("onlyA").data()), string);
    EXPECT_TRUE(NotFound(GetOneResource(kSTR, 1)));
    EXPECT_EQ(InfoOf(Own(GetResource(kFsTI, -200), kFsTI)), std::tuple(-200, kFsTI, Bytes{0}));
    EXPECT_EQ(InfoOf(string), std::tuple(1, kSTR, Str255Of("onlyA")));
    EXPECT_EQ(HomeResourceFile(string), 0);
    // The walk for a unique id starts over after every hit; calls clear a failure.
    for (auto call :
         {+[] { EXPECT_EQ(UniqueResourceId(kFsTI), 1282); }, +[] { UpdateResourceFile(0); }}) {
        GetResource(kFsTI, 999);
        call();
        EXPECT_EQ(ResourceError(), kResourceOk);
    }
    EXPECT_EQ(UniqueResourceId(FourCC("none")), 1280);
    ASSERT_EQ(Open(Write("c", Described({{kSTR, {Res(1280, {}, Text("x"))}}}))), 2);
    for (uint16_t current : {2, 0, 1}) {
        SCOPED_TRACE(current);
        UseResourceFile(current);
        EXPECT_EQ(CountResources(kFsTI), 7);
        EXPECT_EQ(UniqueResourceId(kSTR), 1283);
        EXPECT_EQ(IndexedId(4), 1281);
        EXPECT_EQ(IndexedId(5), 128);
        EXPECT_EQ(IndexedId(7), 1280);
        EXPECT_TRUE(NotFound(GetIndexedResource(kFsTI, 8)));
        GetIndexedResource(kFsTI, 8);  // -192 left unread: the next call clears it
        EXPECT_EQ(GetIndexedResource(kFsTI, current == 2 ? 0 : -1), nullptr);
        EXPECT_EQ(ResourceError(), kResourceOk);
    }
    UseResourceFile(0);
    EXPECT_EQ(BytesOf(Own(GetResource(kFsTI, 128), kFsTI)), Text("from A"));
    EXPECT_TRUE(NotFound(GetResource(kFsTI, -200))) << "later files are not searched";
    EXPECT_EQ(CountOneResources(kFsTI), 3u);
    EXPECT_EQ(std::get<0>(InfoOf(Own(GetOneIndexedResource(kFsTI, 2), kFsTI))), 11);
    EXPECT_TRUE(NotFound(GetOneIndexedResource(kFsTI, 4)));
}

// A Get gives the same Handle until it is released; a detached one is the
// caller's; a changed one is neither released nor detached.
TEST_F(OpenFiles, HandlesAreSharedReleasedAndDetached) {
    const FixtureFile file =
        Described({{kFsTI, {Res(128, "alpha", Text("abc")), Res(129, std::nullopt, Text("wxyz"))}},
                   {kSTR, {Res(1, "s", Text("\x05hello"))}}});
    Bytes bytes = BuildResourceFile(file);
    bytes.insert(bytes.end(), {0xDE, 0xAD});
    const std::string path = Write("mixed.rsrc", bytes);
    const uint16_t ref = Open(path);
    Handle h = GetResource(kFsTI, 128);
    EXPECT_EQ(GetIndexedResource(kFsTI, 1), h);
    (*h)[0] = 'Z';
    EXPECT_EQ(BytesOf(GetNamedResource(kFsTI, Str255Of("alpha").data())), Text("Zbc"));
    const uint32_t registered = RegisteredHandleCount();
    ReleaseResource(h);
    EXPECT_EQ(RegisteredHandleCount(), registered - 1);
    EXPECT_EQ(BytesOf(Get(kFsTI, 128)), Text("abc")) << "read again from the file";

    Handle detached = Own(GetResource(kFsTI, 129), kFsTI);
    DetachResource(detached);
    EXPECT_EQ(ResourceError(), kResourceOk);
    EXPECT_NE(Get(kFsTI, 129), detached);
    Handle stray = Own(NewHandle(4), kFsTI);
    uint8_t *raw = nullptr;  // a Handle no registry knows
    for (Handle none : {detached, stray, static_cast<Handle>(nullptr), &raw}) {
        ReleaseResource(none);
        EXPECT_EQ(ResourceError(), kResourceNotFound);
        DetachResource(none);
        EXPECT_EQ(ResourceError(), kResourceNotFound);
        EXPECT_EQ(HomeResourceFile(none), -1);
    }
    EXPECT_EQ(GetHandleSize(stray), 4) << "not disposed";
    UpdateResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), bytes);

    Handle changed = Get(kSTR, 1);
    MarkResourceChanged(changed);
    ReleaseResource(changed);
    EXPECT_EQ(ResourceError(), kResourceOk) << "refused silently";
    DetachResource(changed);
    EXPECT_EQ(ResourceError(), -198);
    EXPECT_EQ(GetResource(kSTR, 1), changed);
    Handle kept = GetResource(kFsTI, 129);
    CloseResourceFile(ref);
    EXPECT_EQ(FlatResources(Parse(ReadWholeFile(path))), FlatResources(file));
    EXPECT_EQ(BytesOf(kept), Text("wxyz")) << "a loaded Handle outlives its file";
    EXPECT_EQ(HomeResourceFile(kept), -1);
}

// Lists: three strings; a count above the strings; a length past the end; no
// room for the count; a negative count; no data; 255 characters claimed.
TEST_F(OpenFiles, IndexedStrings) {
    FixtureFile file = Described({{kSTRList, {}}, {kSTR, {Res(9, "single", Text("\x04text"))}}});
    for (const Bytes &list : {Bytes{3, 0, 3, 'o', 'n', 'e', 3, 't', 'w', 'o', 1, 'z'},
                              Bytes{5, 0, 1, 'a', 1, 'b'}, Bytes{2, 0, 1, 'a', 9, 'b', 'c'},
                              Bytes{1}, Bytes{0xFF, 0xFF, 1, 'a'}, Bytes{}, Bytes{1, 0, 255}})
        file.types[0].resources.push_back(
            Res(static_cast<int16_t>(file.types[0].resources.size() + 1), {}, list));
    ASSERT_NE(Open(Write("strings", file)), kNoFile);
    const std::tuple<int16_t, int16_t, const char *> cases[] = {
        {1, 0, "one"}, {1, 1, "one"}, {1, 2, "two"}, {1, 3, "z"}, {1, 4, ""},
        {1, -1, ""},   {2, 2, "b"},   {2, 3, ""},    {3, 1, "a"}, {3, 2, ""},
        {4, 1, ""},    {5, 1, ""},    {6, 1, ""},    {7, 1, ""},  {99, 1, ""}};
    for (const auto &[id, index, text] : cases) {
        uint8_t buffer[257];
        std::memset(buffer, 0xEE, sizeof buffer);
        EXPECT_EQ(GetIndexedString(buffer, id, index), buffer);
        Bytes expected = Str255Of(text);
        expected.push_back(0);
        EXPECT_EQ(Bytes(buffer, buffer + std::min<size_t>(257, buffer[0] + 2u)), expected)
            << id << "/" << index;
    }
    EXPECT_EQ(BytesOf(Own(GetStringResource(9), kSTR)), Text("\x04text"));
    EXPECT_TRUE(NotFound(GetStringResource(10)));
    for (int16_t id = 1; id <= 7; ++id)
        Get(kSTRList, id);  // the lists stay loaded: taken to be disposed
}

// Preloaded data is in its slot after the open (a preload that cannot be loaded
// leaves its slot empty); other data is loaded on demand from the file as it is
// then, through a fresh copy of its map.
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
    EXPECT_EQ(RegisteredHandleCount(), handles + 1);
    const uint32_t opens = platform.Calls(PlatformOp::Open);
    Handle pre = GetResource(kFsTI, 128);
    EXPECT_EQ(BytesOf(pre), Text("pre"));
    EXPECT_EQ(platform.Calls(PlatformOp::Open), opens);
    EXPECT_TRUE(NotFound(GetResource(kFsTI, 131)));
    const Bytes replaced = BuildResourceFile(
        Described({{kSTR, {Res(1, "zz", Text("padding padding"))}},
                   {kFsTI, {Res(129, {}, Text("LAZY")), Res(128, {}, Text("NEW!"))}}}));
    WriteWholeFile(path, replaced);
    EXPECT_EQ(BytesOf(Get(kFsTI, 129)), Text("LAZY"));
    EXPECT_EQ(GetResource(kFsTI, 128), pre) << "loaded data is not read again";
    EXPECT_TRUE(NotFound(GetResource(kFsTI, 130)));
    ReleaseResource(pre);
    EXPECT_EQ(BytesOf(Get(kFsTI, 128)), Text("NEW!"));
    // The map in memory no longer describes the file: closing must not write it.
    CloseResourceFile(ref);
    EXPECT_EQ(ReadWholeFile(path), replaced);
}

}  // namespace