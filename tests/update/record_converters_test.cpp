// Converting the records of the fifteen types to their new layouts: the bytes of
// every new record, damaged records, and conversions that stop part-way.
#include "update/record_converters.h"

#include <gtest/gtest.h>

#include "common/resource_test.h"
#include "platform/fault_platform.h"
#include "support/memory_pool.h"
#include "update/conversion_log.h"
#include "update/update_driver.h"

namespace {

// Bytes at an offset of the old record and where they stand in the new one;
// becomes, when given, replaces them there.
struct Piece {
    size_t from, to;
    Bytes bytes, becomes = {};
};
struct Case {
    uint32_t type;
    Bytes old, fresh;
};

const auto S = Str255Of;
Bytes T(const std::string &text) {
    return Bytes(text.c_str(), text.c_str() + text.size() + 1);
}

// The old record is filled with 0xEE where no piece lies, so that padding and
// the rest of string fields show when they are copied; the new one with 0.
Case Make(const char (&type)[5], size_t oldSize, size_t newSize, std::vector<Piece> pieces) {
    Case c = {FourCC(type), Bytes(oldSize, 0xEE), Bytes(newSize, 0)};
    for (const Piece &p : pieces) {
        std::copy(p.bytes.begin(), p.bytes.end(), c.old.begin() + p.from);
        const Bytes &now = p.becomes.empty() ? p.bytes : p.becomes;
        std::copy(now.begin(), now.end(), c.fresh.begin() + p.to);
    }
    return c;
}

// One record of every type, in conversion order.
std::vector<Case> Cases() {
    const std::string x600(600, 'x'), x511(511, 'x');
    // clang-format off
    const auto twoEntries = [](const char(&type)[5], uint8_t seed) {
        return Make(type, 1134, 1134, {{0, 0, S("e")}, {33, 34, S("a")},
            {289, 290, S(std::string(255, 'b'))}, {546, 546, S("c")}, {579, 580, S("d")},
            {836, 836, Pattern(4, seed)}, {840, 840, S("")},
            {873, 874, S("f")}, {1130, 1130, Pattern(4, seed + 8)}});
    };
    return {
        Make("AccH", 39, 546, {{0, 0, S("Fancy")}, {33, 34, T("hello")}}),
        Make("FltH", 34, 546, {{0, 0, S(std::string(32, 'f'))}, {33, 34, T("")}}),
        Make("HtrH", 634, 546, {{0, 0, S("h")}, {33, 34, T(x600), T(x511)}}),
        Make("PlPH", 40, 290, {{0, 0, S("p")}, {33, 34, T("plant")}}),
        Make("DrgH", 804, 804, {{0, 0, S("d")}, {33, 34, T(x511)}, {545, 546, S("lng")},
                                {802, 802, {1, 2}}}),
        twoEntries("EggH", 1),
        twoEntries("FshH", 2),
        Make("EggI", 342, 342, {{0, 0, S("egg")}, {256, 256, Pattern(42, 5)}, {298, 298, S("x")},
                                {332, 332, Pattern(10, 7)}}),
        Make("FshI", 388, 388, {{0, 0, S("fish")}, {256, 256, Pattern(5, 1)},
                                {262, 262, Pattern(66, 2)}, {328, 328, S("y")},
                                {362, 362, Pattern(26, 3)}}),
        Make("Fd_H", 548, 548, {{0, 0, S("f")}, {33, 34, T("Xabc"), T("abc")}, {546, 546, {4, 5}}}),
        Make("FdHd", 35, 546, {{0, 0, S("g")}, {33, 34, T("Y"), T("")}}),
        Make("FdHd", 40, 546, {{0, 0, S("q")}, {33, 34, T("Qrs"), T("rs")}}),
        Make("FdHd", 600, 546, {{0, 0, S("")}, {33, 34, T("Z" + std::string(520, 'x')), T(x511)}}),
        Make("SicI", 8, 8, {{0, 0, {9}}, {2, 2, Pattern(6, 4)}}),
        Make("SicH", 1160, 1162, {{0, 0, S("one")}, {33, 33, S("two")}, {66, 66, {7, 0, 2, 0}},
                                  {70, 70, S("e0")}, {103, 104, T("t0")}, {615, 616, S("e1")},
                                  {648, 650, T("t1")}}),
        Make("PlTH", 70, 70, {{0, 0, S("a")}, {33, 33, S("b")}, {66, 66, {7, 0, 0, 0}}}),
        Make("FsTH", 1127, 1128, {{0, 0, S("a")}, {33, 33, S("b")}, {66, 66, T("c")},
                                  {322, 322, T("d")}, {578, 578, {1, 2, 1, 0}}, {582, 582, S("e")},
                                  {615, 616, T("f")}}),
    };
    // clang-format on
}

class RecordConvertersTest : public ResourceFileTest {
  public:
    static std::optional<std::string> Name(size_t i) {
        return i % 2 ? std::optional("n" + std::to_string(i)) : std::nullopt;
    }
    // A file waiting for its records' conversion, holding the cases' old records
    // (ids 128 + i, every other one without a name) and one other resource.
    std::string WriteOld(const std::vector<Case> &cases) {
        FixtureFile file = Described({{kData, {Res(5, "keep", Pattern(9))}}});
        file.conversionPending = 1;
        for (size_t i = 0; i < cases.size(); ++i) {
            if (file.types.back().type != cases[i].type) file.types.push_back({cases[i].type});
            file.types.back().resources.push_back(
                Res(static_cast<int16_t>(128 + i), Name(i), cases[i].old));
        }
        return Write("content.rez", file);
    }
    // Closes every file and checks that record i of the file holds the new
    // record of cases[i] for i < converted and the old one after it.
    FixtureFile ExpectRecords(const std::string &path, const std::vector<Case> &cases,
                              size_t converted) {
        CloseAll();
        FixtureFile file = Parse(ReadWholeFile(path));
        EXPECT_TRUE(Find(file, kData, 5) != nullptr);
        for (size_t i = 0; i < cases.size(); ++i) {
            const FixtureResource *r = Find(file, cases[i].type, static_cast<int16_t>(128 + i));
            if (r == nullptr) continue;  // a record lost when its new version could not be added
            EXPECT_EQ(r->data, i < converted ? cases[i].fresh : cases[i].old)
                << TypeName(cases[i].type);
            EXPECT_EQ(r->name, Name(i));
        }
        return file;
    }
};

// The seventh type fails on a count of entries; the six before it are converted
// and stay converted once the damage is mended and the conversion runs again.
TEST_F(RecordConvertersTest, ConvertsEveryLayoutOnceAcrossAFailure) {
    const std::vector<Case> cases = Cases();
    std::vector<Case> damaged = cases;
    damaged[6].old.resize(1133);
    const std::string path = WriteOld(damaged);
    const uint16_t other = Open(Write("other.rez", Described({})));
    const uint16_t ref = Open(path);
    UseResourceFile(other);
    EXPECT_EQ(ConvertOldRecords(ref), 0);
    EXPECT_EQ(CurrentResourceFile(), ref);
    FixtureFile file = ExpectRecords(path, damaged, 6);
    const FixtureResource *log = Find(file, kConversionLogType, kConversionLogId);
    Bytes logged(36);  // the type and id of each record converted
    for (size_t i = 0; i < 6; ++i) {
        PutU32(logged, 6 * i, cases[i].type);
        PutI16(logged, 6 * i + 4, static_cast<int16_t>(128 + i));
    }
    EXPECT_TRUE(log != nullptr && !log->name && log->data == logged);

    for (FixtureType &type : file.types) {
        for (FixtureResource &r : type.resources)
            r.dataOffset.reset();
        if (type.type == cases[6].type) type.resources[0].data = cases[6].old;
    }
    WriteWholeFile(path, BuildResourceFile(file));
    const uint16_t again = Open(path);
    const uint16_t before = CurrentResourceFile();
    EXPECT_EQ(ConvertOldRecords(again), 1);
    EXPECT_EQ(CurrentResourceFile(), before);
    file = ExpectRecords(path, cases, cases.size());
    EXPECT_EQ(Find(file, kConversionLogType, kConversionLogId), nullptr);
    EXPECT_TRUE(file.deadData.empty());
}

TEST_F(RecordConvertersTest, WritesBackOnceCompactedWithoutRecords) {
    FixtureFile file = Described({{kData, {Res(5, "keep", Pattern(9))}}});
    file.deadData = Pattern(40);
    file.deadBytes = 40;
    const std::string path = Write("content.rez", file);
    const uint16_t ref = Open(path);
    FaultPlatform watch;
    EXPECT_EQ(ConvertOldRecords(ref), 1);
    EXPECT_EQ(watch.Calls(PlatformOp::Move), 1u);
    file.deadData.clear();
    file.deadBytes = 0;
    EXPECT_EQ(DescribeFile(Parse(ReadWholeFile(path))), DescribeFile(file));
}

// An update that cannot read the flag does not take the old records for new
// ones: it fails before it changes anything.
TEST_F(RecordConvertersTest, AnUnreadableFlagIsNoFlagThatIsNotSet) {
    const std::string path = WriteOld(Cases());
    const Bytes before = ReadWholeFile(path);
    ASSERT_EQ(Open(Write("source.rez", Described({}))), 0);
    ASSERT_EQ(Open(path), 1);
    {
        FaultPlatform fault;
        fault.FailNth(PlatformOp::Open, 1);
        EXPECT_EQ(UpdateContentFile(kSkFs, path.c_str()), 0);
    }
    EXPECT_EQ(ReadWholeFile(path), before);
}

// Damaged records are refused whole and stay as they were.
TEST_F(RecordConvertersTest, RefusesRecordsThatDoNotHoldTheirLayout) {
    const std::vector<Case> cases = Cases();
    const auto damage = [&](size_t index, auto change) {
        Case c = cases[index];
        change(c.old);
        return c;
    };
    const std::vector<Case> damaged = {
        damage(0, [](Bytes &b) { b.back() = 'x'; }),     // text without a zero
        damage(0, [](Bytes &b) { b[0] = 33; }),          // name longer than its field
        damage(4, [](Bytes &b) { b.resize(803); }),      // record too short
        damage(4, [](Bytes &b) { b[33 + 511] = 'x'; }),  // zero past the text's field
        damage(9, [](Bytes &b) { std::fill(b.begin() + 33, b.begin() + 546, 'x'); }),
        damage(14, [](Bytes &b) { PutI16(b, 68, -1); }),  // negative count
        damage(14, [](Bytes &b) { PutI16(b, 68, 3); }),   // entries past the end
        damage(16,
               [](Bytes &b) {  // first head text without a zero before the second
                   std::fill(b.begin() + 66, b.begin() + 322, 'x');
                   b[322] = 0;
               }),
    };
    for (const Case &c : damaged) {
        const std::string path = WriteOld({c});
        const uint16_t ref = Open(path);
        EXPECT_EQ(ConvertOldRecords(ref), 0) << TypeName(c.type);
        EXPECT_EQ(CurrentResourceFile(), ref);
        ExpectRecords(path, {c}, 0);
    }
}

// Whichever call fails, running the conversion again after reopening the file
// gives every record that is left its new layout exactly once.
TEST_F(RecordConvertersTest, NoRecordIsConvertedTwiceAfterAnyFailure) {
    const std::vector<Case> all = Cases();
    const std::vector<Case> cases = {all[0], all[0], all[4], all[14]};
    std::string path;
    uint16_t ref = 0;
    int converted = 0;
    ForEachFault(
        {Op(PlatformOp::Open), Op(PlatformOp::Read), Op(PlatformOp::Write), kAllocationFault},
        [&] { ref = Open(path = WriteOld(cases)); }, [&] { converted = ConvertOldRecords(ref); },
        [&](int, bool) {
            CloseAll();
            if (converted == 0) {
                EXPECT_EQ(ConvertOldRecords(Open(path)), 1);
            }
            ExpectRecords(path, cases, cases.size());
        });
}

}  // namespace
