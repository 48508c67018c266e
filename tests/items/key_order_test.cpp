#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "items/item_testing.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Random atoms of every type from small value pools, so that equal and equivalent keys of
// different types (Int 1, Unsigned 1, Real 1.0, Bool true; Blob and String "ab") are common.
CRef<CAtom> RandomAtom(std::mt19937& random) {
    static const double reals[] = {-3e9, -2.5, -1.0, -0.0, 0.0, 0.4, 1.0, 2.5, 3e9, kNaN, INFINITY, -INFINITY};
    static const int32_t ints[] = {INT32_MIN, -3, -1, 0, 1, 2, 3, INT32_MAX};
    static const uint32_t unsigneds[] = {0, 1, 2, 3, 2147483648u, UINT32_MAX};
    static const char* texts[] = {nullptr, "", "a", "ab", "B", "\x80", "abc"};
    const auto below = [&](uint32_t bound) { return std::uniform_int_distribution<uint32_t>(0, bound - 1)(random); };
    const int32_t small = static_cast<int32_t>(below(5)) - 2;
    const char* text = texts[below(7)];
    switch (below(12)) {
        case 0: return MakeAtom([](CAtom&) {});
        case 1: return MakeAtom(Bool(small));
        case 2: return MakeAtom(Int(ints[below(8)]));
        case 3: return MakeAtom(Unsigned(unsigneds[below(6)]));
        case 4: return MakeAtom(Real(reals[below(12)]));
        case 5: return MakeAtom(Typed(MbTypeCookie, below(3) | (below(2) ? INT64_MIN : 0)));
        case 6: return MakeAtom(Typed(MbTypeLocalTime, small));
        case 7: return MakeAtom(Typed(MbTypeUtcTime, small));
        case 8: return MakeAtom(String(text));
        case 9: return MakeAtom([text](CAtom& a) { a.SetBlob(text, text == nullptr ? 0 : static_cast<uint16_t>(std::strlen(text))); });
        default: return MakeAtom(Int(small));
    }
}

}  // namespace

class KeyOrderTest : public ItemTest {};

// Groups of equivalent keys in ascending order: None; numbers by value across Bool, Int,
// Unsigned and Real, NaN last; Cookies unsigned; LocalTimes; UtcTimes; Blob and String by bytes
// (no CStr, then empty, then unsigned bytes); unknown type codes.
TEST_F(KeyOrderTest, RanksClassesThenValues) {
    const std::vector<std::vector<SetAtom>> groups = {
        {[](CAtom&) {}, [](CAtom&) {}},
        {Real(-INFINITY)},
        {Int(INT32_MIN)},
        {Real(-2.5)},
        {Int(-1), Real(-1.0)},
        {Real(-0.0), Real(0.0), Int(0), Bool(0), Unsigned(0)},
        {Real(0.4)},
        {Int(1), Unsigned(1), Real(1.0), Bool(5)},
        {Real(2.5)},
        {Int(INT32_MAX)},
        {Unsigned(3000000000u)},
        {Real(INFINITY)},
        {Real(kNaN), Real(-kNaN)},
        {Typed(MbTypeCookie, 0)},
        {Typed(MbTypeCookie, 0xFFFFFFFF)},
        {Typed(MbTypeCookie, INT64_MIN)},
        {Typed(MbTypeLocalTime, -1)},
        {Typed(MbTypeLocalTime, 5)},
        {Typed(MbTypeUtcTime, -2)},
        {Typed(MbTypeUtcTime, 1)},
        {String(nullptr)},
        {String("")},
        {String("B"), Blob("B")},
        {String("a")},
        {Blob("ab"), String("ab")},
        {String("abc")},
        {String("~")},
        {String("\x80")},
        {Typed(MbTypeItem, 0)},
        {Typed(200, 0)},
    };
    std::vector<std::pair<size_t, CRef<CAtom>>> atoms;
    for (size_t rank = 0; rank < groups.size(); ++rank) {
        for (const SetAtom& set : groups[rank]) atoms.emplace_back(rank, MakeAtom(set));
    }
    for (const auto& [rankA, a] : atoms) {
        for (const auto& [rankB, b] : atoms) {
            EXPECT_EQ(CAtom::Less(a.Get(), b.Get()), rankA < rankB) << Rendered(*a.Get()) << " < " << Rendered(*b.Get());
        }
    }
}

// A strict weak order: irreflexive, asymmetric, transitive, and incomparability is transitive
// (so equivalent keys form classes that the order ranks). Checked over every triple.
TEST_F(KeyOrderTest, IsAStrictWeakOrderOverMixedKeys) {
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        std::mt19937 random(seed);
        std::vector<CRef<CAtom>> atoms;
        for (int i = 0; i < 70; ++i) atoms.push_back(RandomAtom(random));
        const size_t n = atoms.size();
        std::vector<char> less(n * n);
        for (size_t i = 0; i < n; ++i) {
            for (size_t j = 0; j < n; ++j) less[i * n + j] = CAtom::Less(atoms[i].Get(), atoms[j].Get());
        }
        const auto name = [&](size_t i) { return Rendered(*atoms[i].Get()); };
        for (size_t i = 0; i < n; ++i) {
            ASSERT_FALSE(less[i * n + i]) << "seed " << seed << ": " << name(i);
            for (size_t j = 0; j < n; ++j) {
                ASSERT_FALSE(less[i * n + j] && less[j * n + i]) << name(i) << " " << name(j);
                for (size_t k = 0; k < n; ++k) {
                    ASSERT_TRUE(!less[i * n + j] || !less[j * n + k] || less[i * n + k]);
                    const bool ijEquivalent = !less[i * n + j] && !less[j * n + i];
                    const bool jkEquivalent = !less[j * n + k] && !less[k * n + j];
                    if (ijEquivalent && jkEquivalent) {
                        ASSERT_TRUE(!less[i * n + k] && !less[k * n + i]) << name(i) << " ~ " << name(j) << " ~ " << name(k);
                    }
                }
            }
        }
    }
}
