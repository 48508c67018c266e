#include <cmath>
#include <optional>

#include "items/item_testing.h"
#include "runtime/object_memory.h"

using namespace std::string_literals;

namespace {

// Every atom type: its stored form and its text form.
struct AtomCase {
    SetAtom set;
    const char* stored;
    std::string text;
};

const AtomCase kAtoms[] = {
    {[](CAtom&) {}, "6E", "None"},
    {Bool(0), "62", "False"},
    {Bool(5), "42", "True"},
    {Typed(MbTypeCookie, 0x100000002), "63 02 00 00 00 01 00 00 00", "00000001-00000002"},
    {Int(-2), "69 FE FF FF FF", "-2"},
    {Int(INT32_MIN), "69 00 00 00 80", "-2147483648"},
    {Unsigned(0x01020304), "75 04 03 02 01", "16909060"},
    {Unsigned(UINT32_MAX), "75 FF FF FF FF", "4294967295"},
    {Real(1.5), "72 00 00 00 00 00 00 F8 3F", "1.5"},
    {Real(123456789.0), "72 00 00 00 54 34 6F 9D 41", "1.23457e+08"},
    {Real(1e-20), "72 23 42 92 0C A1 9C C7 3B", "1e-20"},
    {Typed(MbTypeLocalTime, 1), "67 01 00 00 00 00 00 00 00", "01-01-1601 00:00:00.0001 local"},
    {Typed(MbTypeUtcTime, 1), "74 01 00 00 00 00 00 00 00", "01-01-1601 00:00:00.0001 UTC"},
    {Typed(MbTypeUtcTime, 0), "74 00 00 00 00 00 00 00 00", "nil"},
    {Typed(MbTypeUtcTime, 12596301296789), "74 95 74 10 CE 74 0B 00 00", "02-29-2000 12:34:56.0789 UTC"},
    {Typed(MbTypeLocalTime, -1), "67 FF FF FF FF FF FF FF FF", "00-00-0000 00:00:00.0000 local"},
    {[](CAtom& a) { a.SetBlob("a\0b", 3); }, "64 03 00 61 00 62", "\"a\0b\""s},
    {[](CAtom& a) { a.SetBlob(nullptr, 4); }, "64 00 00", "\"\""},
    {String("hi"), "73 02 00 68 69", "\"hi\""},
    {String("a\"b"), "73 03 00 61 22 62", "\"a\"b\""},
    {String(nullptr), "73 00 00", "\"\""},
    {String(""), "73 00 00", "\"\""},
    {Typed(MbTypeItem, 0), "49", "(unknown atom type 0x0B)"},
    {Typed(MbTypeUnknown, 0), "", "(unknown atom type 0x00)"},
    {Typed(200, 0), "", "(unknown atom type 0xC8)"},
};

class AtomTest : public ItemTest {};

// A stored form reads back into an atom of another type, taking exactly its bytes; unknown codes
// store nothing but a wrapper's letter, which is an error.
TEST_F(AtomTest, StoredTextAndReadBackFormsOfEveryType) {
    for (const AtomCase& c : kAtoms) {
        CAtom atom;
        c.set(atom);
        const Bytes stored = Stored(atom);
        EXPECT_EQ(Hex(stored), c.stored) << c.text;
        EXPECT_EQ(Rendered(atom), c.text);
        EXPECT_EQ(Rendered(atom, true), "") << c.text;
        if (atom.GetType() == MbTypeUnknown || atom.GetType() >= MbTypeItem) continue;
        CRef<CStorage> stream = ReadingStream(stored);
        CAtom copy;
        copy.SetInt(99);
        EXPECT_EQ(copy.Read(*stream.Get()), stored.size()) << c.text;
        EXPECT_EQ(Hex(Stored(copy)), c.stored) << c.text;
        EXPECT_TRUE(stream->Exhausted());
    }
    EXPECT_EQ(trace_capture::Records().size(), 1u);
    EXPECT_EQ(Reported("**Error: unknown atom type written to storage (0x49).\n"), 1u);
}

// One stream read by several atoms: odd letters, a reused CStr, a short payload, an empty stream.
TEST_F(AtomTest, ReadsOfOddInput) {
    CRef<CStorage> stream = ReadingStream(FromHex("78 41 64 02 00 6E 77 42 69 01 02"));
    CAtom number, string, reused, truth, shortInt, nothing;
    number.SetInt(5);
    EXPECT_EQ(number.Read(*stream.Get()), 1);
    EXPECT_EQ(number.GetType(), static_cast<uint32_t>(MbTypeInt));
    EXPECT_EQ(number.CellBits(), 0u);
    string.SetString("x");
    EXPECT_EQ(string.Read(*stream.Get()), 1);
    EXPECT_EQ(string.GetType(), static_cast<uint32_t>(MbTypeString));
    EXPECT_EQ(string.GetString(), nullptr);
    reused.SetString("old");
    CStr* held = reused.GetString();
    EXPECT_EQ(reused.Read(*stream.Get()), 5);
    EXPECT_EQ(reused.GetBlob(), held);
    EXPECT_STREQ(held->GetString(), "nw");
    truth.Read(*stream.Get());
    EXPECT_EQ(truth.GetBool(), 1);
    EXPECT_EQ(trace_capture::Records().size(), 0u);
    EXPECT_EQ(shortInt.Read(*stream.Get()), 3);
    EXPECT_EQ(shortInt.GetInt(), 0x0201);
    EXPECT_EQ(Reported("failed to read 4 byte(s) from storage (read 2)"), 1u);
    nothing.SetInt(3);
    EXPECT_EQ(nothing.Read(*stream.Get()), 0);
    EXPECT_EQ(nothing.GetInt(), 3);
}

// The converted value, or nullopt when the conversion is refused.
template <class T, bool (CAtom::*To)(T*) const>
std::optional<double> As(const CAtom& atom) {
    T value{};
    return (atom.*To)(&value) ? std::optional<double>(value) : std::nullopt;
}

struct Conversion {
    const char* name;
    std::optional<double> (*convert)(const CAtom&);
};
const Conversion kToInt{"Int", &As<int32_t, &CAtom::ToInt>}, kToUnsigned{"Unsigned", &As<uint32_t, &CAtom::ToUnsigned>};
const Conversion kToBool{"Bool", &As<int32_t, &CAtom::ToBool>}, kToReal{"Real", &As<double, &CAtom::ToReal>};

// Reals round halves away from zero into range; Bool keeps its own value; other types refuse.
TEST_F(AtomTest, ConversionBoundaries) {
    const std::optional<double> no;
    const struct {
        SetAtom set;
        Conversion to;
        std::optional<double> expected;
    } cases[] = {
        {Real(2.5), kToInt, 3}, {Real(-2.5), kToInt, -3}, {Real(2.4999), kToInt, 2}, {Real(-0.4), kToInt, 0},
        {Real(2147483647.4), kToInt, 2147483647}, {Real(2147483647.5), kToInt, no},
        {Real(-2147483647.4), kToInt, -2147483647}, {Real(-2147483647.6), kToInt, no},
        {Real(-2147483648.0), kToInt, no}, {Real(kNaN), kToInt, no}, {Real(INFINITY), kToInt, no},
        {Real(-INFINITY), kToInt, no},
        {Real(-0.0), kToUnsigned, 0}, {Real(-0.1), kToUnsigned, no}, {Real(0.5), kToUnsigned, 1},
        {Real(4294967295.4), kToUnsigned, 4294967295.0}, {Real(4294967295.5), kToUnsigned, no},
        {Real(kNaN), kToUnsigned, no},
        {Real(0.49), kToBool, 0}, {Real(0.5), kToBool, 1}, {Real(-0.5), kToBool, 1}, {Real(-0.49), kToBool, 0},
        {Real(kNaN), kToBool, 0}, {Real(1e300), kToBool, 1},
        {Unsigned(2147483647), kToInt, 2147483647}, {Unsigned(2147483648u), kToInt, no},
        {Unsigned(2147483648u), kToReal, 2147483648.0}, {Unsigned(2147483648u), kToBool, 1},
        {Int(-1), kToUnsigned, no}, {Int(-1), kToBool, 1}, {Int(-1), kToReal, -1},
        {Bool(-7), kToBool, -7}, {Bool(-7), kToInt, 1}, {Bool(-7), kToUnsigned, 1}, {Bool(-7), kToReal, 1},
    };
    for (const auto& c : cases) {
        CAtom atom;
        c.set(atom);
        EXPECT_EQ(c.to.convert(atom), c.expected) << Rendered(atom) << " to " << c.to.name;
    }
    for (const SetAtom& set : {String("1"), Typed(MbTypeCookie, 1), Typed(MbTypeUtcTime, 1), Blob("1"), Typed(MbTypeNone, 0)}) {
        CAtom other;
        set(other);
        for (const Conversion& to : {kToInt, kToUnsigned, kToBool, kToReal}) EXPECT_EQ(to.convert(other), no) << Rendered(other);
    }
}

// Reads into an atom the stored form of the one `set` makes.
SetAtom ReadFrom(const SetAtom& set) {
    return [set](CAtom& a) { a.Read(*ReadingStream(Stored(*MakeAtom(set).Get())).Get()); };
}

// Equality converts the right atom to the left one's type; same-byte Blob and String are
// neither equal nor ordered; a null and an empty String differ until stored.
TEST_F(AtomTest, EqualityAndOrderOfPairs) {
    const SetAtom none = [](CAtom&) {}, local10 = Typed(MbTypeLocalTime, 10), local11 = Typed(MbTypeLocalTime, 11);
    const SetAtom utc10 = Typed(MbTypeUtcTime, 10);
    const struct {
        SetAtom left, right;
        bool equals, less;
    } cases[] = {
        {Bool(1), Int(5), true, true},          {Int(5), Bool(1), false, false},
        {Bool(5), Int(5), false, true},         {Int(5), Unsigned(5), true, false},
        {Int(5), Real(5.4), true, true},        {Real(5.4), Int(5), false, false},
        {Real(kNaN), Real(kNaN), false, false}, {none, none, true, false},
        {none, Int(5), false, true},            {local10, utc10, false, true},
        {utc10, local10, false, false},         {local10, local11, false, true},
        {Blob("same"), String("same"), false, false}, {String("same"), Blob("same"), false, false},
        {String(nullptr), String(""), false, true},   {String(""), String(nullptr), false, false},
        {ReadFrom(String(nullptr)), ReadFrom(String("")), true, false},
        {ReadFrom(String("")), ReadFrom(String(nullptr)), true, false},
    };
    for (const auto& c : cases) {
        CAtom left, right;
        c.left(left);
        c.right(right);
        EXPECT_EQ(CAtom::Equals(left, right), c.equals) << Rendered(left) << " == " << Rendered(right);
        EXPECT_EQ(CAtom::Less(&left, &right), c.less) << Rendered(left) << " < " << Rendered(right);
    }
    const CRef<CAtom> readNull = MakeAtom(ReadFrom(String(nullptr)));
    ASSERT_NE(readNull->GetString(), nullptr);
    EXPECT_TRUE(readNull->GetString()->IsEmpty());
}

// A setter may be given the atom's own bytes, long or short: they are copied before the old
// content goes (ASan sees any read of freed content).
TEST_F(AtomTest, SettersTakeTheAtomsOwnBytes) {
    const std::string text = "w" + std::string(100, 'x') + "yz";
    CAtom atom;
    atom.SetString(text.c_str());
    atom.SetString(atom.GetString()->GetString() + 1);
    EXPECT_EQ(std::string(atom.GetString()->GetString()), text.substr(1));
    uint32_t length = 0;
    const char* bytes = atom.GetString()->GetString(&length);
    atom.SetBlob(bytes + length - 3, 3);
    EXPECT_EQ(std::string(atom.GetBlob()->GetString(&length)), "xyz");
    atom.SetString(atom.GetBlob()->GetString() + 1);
    EXPECT_EQ(std::string(atom.GetString()->GetString()), "yz");
}

}  // namespace
