#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <optional>

#include "items/item_testing.h"

namespace {

struct AtomCase {
    const char* name;
    std::function<void(CAtom&)> set;
    const char* stored;
    const char* text;
};

const std::vector<AtomCase>& AtomCases() {
    static const std::vector<AtomCase> cases = {
        {"None", [](CAtom&) {}, "6E", "None"},
        {"BoolFalse", [](CAtom& a) { a.SetBool(0); }, "62", "False"},
        {"BoolFive", [](CAtom& a) { a.SetBool(5); }, "42", "True"},
        {"Cookie", [](CAtom& a) { a.SetCookie(2, 1); }, "63 02 00 00 00 01 00 00 00", "00000001-00000002"},
        {"IntNegative", [](CAtom& a) { a.SetInt(-2); }, "69 FE FF FF FF", "-2"},
        {"IntMin", [](CAtom& a) { a.SetInt(INT32_MIN); }, "69 00 00 00 80", "-2147483648"},
        {"Unsigned", [](CAtom& a) { a.SetUnsigned(0x01020304); }, "75 04 03 02 01", "16909060"},
        {"UnsignedMax", [](CAtom& a) { a.SetUnsigned(UINT32_MAX); }, "75 FF FF FF FF", "4294967295"},
        {"RealHalf", [](CAtom& a) { a.SetReal(1.5); }, "72 00 00 00 00 00 00 F8 3F", "1.5"},
        {"RealLarge", [](CAtom& a) { a.SetReal(123456789.0); }, "72 00 00 00 54 34 6F 9D 41", "1.23457e+08"},
        {"RealSmall", [](CAtom& a) { a.SetReal(1e-20); }, "72 23 42 92 0C A1 9C C7 3B", "1e-20"},
        {"LocalTimeOne", [](CAtom& a) { a.SetLocalTime(1); }, "67 01 00 00 00 00 00 00 00",
         "01-01-1601 00:00:00.0001 local"},
        {"UtcTimeOne", [](CAtom& a) { a.SetUtcTime(1); }, "74 01 00 00 00 00 00 00 00",
         "01-01-1601 00:00:00.0001 UTC"},
        {"UtcTimeZero", [](CAtom& a) { a.SetUtcTime(0); }, "74 00 00 00 00 00 00 00 00", "nil"},
        {"UtcTimeLeapDay", [](CAtom& a) { a.SetUtcTime(12596301296789); }, "74 95 74 10 CE 74 0B 00 00",
         "02-29-2000 12:34:56.0789 UTC"},
        {"LocalTimeNegative", [](CAtom& a) { a.SetLocalTime(-1); }, "67 FF FF FF FF FF FF FF FF",
         "00-00-0000 00:00:00.0000 local"},
        {"Blob", [](CAtom& a) { a.SetBlob("a\0b", 3); }, "64 03 00 61 00 62", "(checked below)"},
        {"BlobNone", [](CAtom& a) { a.SetBlob(nullptr, 4); }, "64 00 00", "\"\""},
        {"String", [](CAtom& a) { a.SetString("hi"); }, "73 02 00 68 69", "\"hi\""},
        {"StringNull", [](CAtom& a) { a.SetString(nullptr); }, "73 00 00", "\"\""},
        {"StringEmpty", [](CAtom& a) { a.SetString(""); }, "73 00 00", "\"\""},
    };
    return cases;
}

}  // namespace

class AtomTest : public ItemTest {};

TEST_F(AtomTest, StoredAndTextFormsOfEveryType) {
    for (const AtomCase& c : AtomCases()) {
        CAtom atom;
        c.set(atom);
        EXPECT_EQ(Hex(Stored(atom)), c.stored) << c.name;
        if (std::string(c.name) != "Blob") {
            EXPECT_EQ(Rendered(atom), c.text) << c.name;
        }
        EXPECT_EQ(Rendered(atom, true), "") << c.name;
    }
    CAtom blob;
    blob.SetBlob("a\0b", 3);
    EXPECT_EQ(Rendered(blob), std::string("\"a\0b\"", 5));
}

TEST_F(AtomTest, StoredFormsReadBackToTheSameValue) {
    for (const AtomCase& c : AtomCases()) {
        CAtom atom;
        c.set(atom);
        const Bytes stored = Stored(atom);
        CRef<CStorage> stream = ReadingStream(stored);
        CAtom copy;
        copy.SetInt(99);
        EXPECT_EQ(copy.Read(*stream.Get()), stored.size()) << c.name;
        EXPECT_EQ(Hex(Stored(copy)), c.stored) << c.name;
        EXPECT_TRUE(stream->Exhausted());
    }
    EXPECT_EQ(trace_capture::Records().size(), 0u);
}

TEST_F(AtomTest, TrueBoolReadsBackAsOne) {
    CAtom atom;
    atom.SetBool(5);
    int32_t value = 0;
    ASSERT_TRUE(atom.ToBool(&value));
    EXPECT_EQ(value, 5);
    CRef<CStorage> stream = ReadingStream(Stored(atom));
    CAtom copy;
    copy.Read(*stream.Get());
    EXPECT_EQ(copy.GetType(), static_cast<uint32_t>(MbTypeBool));
    EXPECT_EQ(copy.GetBool(), 1);
}

TEST_F(AtomTest, WrapperKindCodesAndUnknownCodes) {
    CAtom kind;
    kind.SetType(MbTypeItem);
    EXPECT_EQ(Hex(Stored(kind)), "49");
    EXPECT_EQ(Reported("**Error: unknown atom type written to storage (0x49).\n"), 1u);
    EXPECT_EQ(Rendered(kind), "(unknown atom type 0x0B)");
    CAtom unknown;
    unknown.SetType(MbTypeUnknown);
    EXPECT_EQ(Hex(Stored(unknown)), "");
    EXPECT_EQ(Rendered(unknown), "(unknown atom type 0x00)");
    unknown.SetType(200);
    EXPECT_EQ(Hex(Stored(unknown)), "");
    EXPECT_EQ(Rendered(unknown), "(unknown atom type 0xC8)");
}

TEST_F(AtomTest, ReadingANonLetterKeepsTheTypeAndClearsTheValue) {
    CRef<CStorage> stream = ReadingStream(FromHex("78 41 69"));
    CAtom atom;
    atom.SetInt(5);
    EXPECT_EQ(atom.Read(*stream.Get()), 1);
    EXPECT_EQ(atom.GetType(), static_cast<uint32_t>(MbTypeInt));
    EXPECT_EQ(atom.CellBits(), 0u);
    CAtom string;
    string.SetString("x");
    EXPECT_EQ(string.Read(*stream.Get()), 1);  // "A" is a wrapper letter, no atom type
    EXPECT_EQ(string.GetType(), static_cast<uint32_t>(MbTypeString));
    EXPECT_EQ(string.GetString(), nullptr);
    EXPECT_EQ(trace_capture::Records().size(), 0u);
}

TEST_F(AtomTest, ShortPayloadsKeepWhatWasRead) {
    CRef<CStorage> stream = ReadingStream(FromHex("69 01 02"));
    CAtom atom;
    EXPECT_EQ(atom.Read(*stream.Get()), 3);
    EXPECT_EQ(atom.GetInt(), 0x0201);
    EXPECT_EQ(Reported("failed to read 4 byte(s) from storage (read 2)"), 1u);
    CAtom nothing;
    nothing.SetInt(3);
    EXPECT_EQ(nothing.Read(*stream.Get()), 0);
    EXPECT_EQ(nothing.GetInt(), 3);
}

TEST_F(AtomTest, StringReadReusesTheHeldCStr) {
    CAtom atom;
    atom.SetString("old");
    CStr* held = atom.GetString();
    CRef<CStorage> stream = ReadingStream(FromHex("64 02 00 6E 77"));
    atom.Read(*stream.Get());
    EXPECT_EQ(atom.GetType(), static_cast<uint32_t>(MbTypeBlob));
    EXPECT_EQ(atom.GetBlob(), held);
    EXPECT_STREQ(held->GetString(), "nw");
}

TEST_F(AtomTest, ExactGettersAnswerOnlyTheirType) {
    CAtom atom;
    atom.SetInt(7);
    EXPECT_EQ(atom.GetInt(), 7);
    EXPECT_EQ(atom.GetUnsigned(), 0u);
    EXPECT_EQ(atom.GetBool(), 0);
    EXPECT_EQ(atom.GetReal(), 0.0);
    EXPECT_EQ(atom.GetString(), nullptr);
    atom.SetCookie(0xFFFFFFFF, 0x80000000);
    EXPECT_EQ(atom.GetCookie(), 0x80000000FFFFFFFFull);
    EXPECT_EQ(atom.GetLocalTime(), 0);
    atom.SetTime(true, -5);
    EXPECT_EQ(atom.GetUtcTime(), -5);
    atom.SetTime(false, -5);
    EXPECT_EQ(atom.GetLocalTime(), -5);
    EXPECT_EQ(atom.GetUtcTime(), 0);
}

namespace {
template <class T>
std::optional<T> Convert(const CAtom& atom, bool (CAtom::*to)(T*) const) {
    T value{};
    if (!(atom.*to)(&value)) return std::nullopt;
    return value;
}
CRef<CAtom> RealAtom(double value) {
    CRef<CAtom> atom = CRef<CAtom>::Adopt(new CAtom);
    atom->SetReal(value);
    return atom;
}
}  // namespace

TEST_F(AtomTest, RealToIntRoundsHalvesAwayAndKeepsItsBounds) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::pair<double, std::optional<int32_t>>> cases = {
        {2.5, 3}, {-2.5, -3}, {2.4999, 2}, {-0.4, 0}, {2147483647.4, 2147483647}, {2147483647.5, std::nullopt},
        {-2147483647.4, -2147483647}, {-2147483647.6, std::nullopt}, {-2147483648.0, std::nullopt},
        {nan, std::nullopt}, {INFINITY, std::nullopt}, {-INFINITY, std::nullopt},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(Convert(*RealAtom(value).Get(), &CAtom::ToInt), expected) << value;
    }
}

TEST_F(AtomTest, RealToUnsignedAndToBoolBounds) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::pair<double, std::optional<uint32_t>>> unsignedCases = {
        {-0.0, 0u}, {-0.1, std::nullopt}, {0.5, 1u}, {4294967295.4, 4294967295u},
        {4294967295.5, std::nullopt}, {nan, std::nullopt},
    };
    for (const auto& [value, expected] : unsignedCases) {
        EXPECT_EQ(Convert(*RealAtom(value).Get(), &CAtom::ToUnsigned), expected) << value;
    }
    const std::vector<std::pair<double, int32_t>> boolCases = {
        {0.49, 0}, {0.5, 1}, {-0.5, 1}, {-0.49, 0}, {nan, 0}, {1e300, 1},
    };
    for (const auto& [value, expected] : boolCases) {
        EXPECT_EQ(Convert(*RealAtom(value).Get(), &CAtom::ToBool), expected) << value;
    }
}

TEST_F(AtomTest, IntegerConversions) {
    CAtom atom;
    atom.SetUnsigned(2147483647);
    EXPECT_EQ(Convert(atom, &CAtom::ToInt), 2147483647);
    atom.SetUnsigned(2147483648u);
    EXPECT_EQ(Convert(atom, &CAtom::ToInt), std::nullopt);
    EXPECT_EQ(Convert(atom, &CAtom::ToReal), 2147483648.0);
    EXPECT_EQ(Convert(atom, &CAtom::ToBool), 1);
    atom.SetInt(-1);
    EXPECT_EQ(Convert(atom, &CAtom::ToUnsigned), std::nullopt);
    EXPECT_EQ(Convert(atom, &CAtom::ToBool), 1);
    EXPECT_EQ(Convert(atom, &CAtom::ToReal), -1.0);
    atom.SetBool(-7);
    EXPECT_EQ(Convert(atom, &CAtom::ToBool), -7);
    EXPECT_EQ(Convert(atom, &CAtom::ToInt), 1);
    EXPECT_EQ(Convert(atom, &CAtom::ToUnsigned), 1u);
    EXPECT_EQ(Convert(atom, &CAtom::ToReal), 1.0);
    for (auto set : std::vector<std::function<void(CAtom&)>>{
             [](CAtom& a) { a.SetString("1"); }, [](CAtom& a) { a.SetCookie(1, 0); },
             [](CAtom& a) { a.SetUtcTime(1); }, [](CAtom& a) { a.SetBlob("1", 1); }, [](CAtom&) {}}) {
        CAtom other;
        set(other);
        int32_t untouched = 42;
        EXPECT_FALSE(other.ToInt(&untouched));
        EXPECT_FALSE(other.ToBool(&untouched));
        EXPECT_EQ(untouched, 42);
        EXPECT_EQ(Convert(other, &CAtom::ToReal), std::nullopt);
        EXPECT_EQ(Convert(other, &CAtom::ToUnsigned), std::nullopt);
    }
}

TEST_F(AtomTest, EqualityFollowsTheLeftType) {
    CAtom intFive, boolOne, boolFive, local, utc, blob, string, nan, unsignedFive, realFive;
    intFive.SetInt(5);
    boolOne.SetBool(1);
    boolFive.SetBool(5);
    local.SetLocalTime(10);
    utc.SetUtcTime(10);
    blob.SetBlob("ab", 2);
    string.SetString("ab");
    nan.SetReal(std::numeric_limits<double>::quiet_NaN());
    unsignedFive.SetUnsigned(5);
    realFive.SetReal(5.4);
    EXPECT_TRUE(CAtom::Equals(boolOne, intFive));
    EXPECT_FALSE(CAtom::Equals(intFive, boolOne));
    EXPECT_FALSE(CAtom::Equals(boolFive, intFive));  // ToBool(Int 5) is 1, not 5
    EXPECT_FALSE(CAtom::Equals(local, utc));
    EXPECT_FALSE(CAtom::Equals(blob, string));
    EXPECT_FALSE(CAtom::Equals(nan, nan));
    EXPECT_TRUE(CAtom::Equals(intFive, unsignedFive));
    EXPECT_TRUE(CAtom::Equals(intFive, realFive));  // 5.4 converts to 5
    EXPECT_FALSE(CAtom::Equals(realFive, intFive));
    CAtom none1, none2;
    EXPECT_TRUE(CAtom::Equals(none1, none2));
    EXPECT_FALSE(CAtom::Equals(none1, intFive));
    CAtom local2;
    local2.SetLocalTime(11);
    EXPECT_FALSE(CAtom::Equals(local, local2));
    EXPECT_TRUE(CAtom::Less(&local, &utc));
    EXPECT_FALSE(CAtom::Less(&utc, &local));
}

TEST_F(AtomTest, NullAndEmptyStringsDifferUntilStoredAndRead) {
    CAtom fromNull, fromEmpty;
    fromNull.SetString(nullptr);
    fromEmpty.SetString("");
    EXPECT_FALSE(CAtom::Equals(fromNull, fromEmpty));
    EXPECT_TRUE(CAtom::Less(&fromNull, &fromEmpty));
    EXPECT_FALSE(CAtom::Less(&fromEmpty, &fromNull));
    CAtom readNull, readEmpty;
    CRef<CStorage> first = ReadingStream(Stored(fromNull));
    CRef<CStorage> second = ReadingStream(Stored(fromEmpty));
    readNull.Read(*first.Get());
    readEmpty.Read(*second.Get());
    ASSERT_NE(readNull.GetString(), nullptr);
    EXPECT_TRUE(readNull.GetString()->IsEmpty());
    EXPECT_TRUE(CAtom::Equals(readNull, readEmpty));
    EXPECT_FALSE(CAtom::Less(&readNull, &readEmpty));
    EXPECT_FALSE(CAtom::Less(&readEmpty, &readNull));
}

TEST_F(AtomTest, BlobAndStringWithTheSameBytesAreNotEqualAndNeitherIsLess) {
    CAtom blob, string;
    blob.SetBlob("same", 4);
    string.SetString("same");
    EXPECT_FALSE(CAtom::Equals(blob, string));
    EXPECT_FALSE(CAtom::Equals(string, blob));
    EXPECT_FALSE(CAtom::Less(&blob, &string));
    EXPECT_FALSE(CAtom::Less(&string, &blob));
}

TEST_F(AtomTest, SettersReleaseTheHeldString) {
    const size_t before = LiveObjects();
    CAtom atom;
    atom.SetString("x");
    EXPECT_EQ(LiveObjects(), before + 2);
    atom.SetBlob("y", 1);
    EXPECT_EQ(LiveObjects(), before + 2);
    atom.SetInt(1);
    EXPECT_EQ(LiveObjects(), before + 1);
}
