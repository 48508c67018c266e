#include <cmath>

#include "items/item_testing.h"

class KeyOrderTest : public ItemTest {};

// Groups of equivalent keys in ascending order; every pair is checked, so Less must be a strict
// weak order across all classes, with equivalence across types within a group.
TEST_F(KeyOrderTest, RanksClassesThenValues) {
    const std::vector<std::vector<SetAtom>> groups = {
        {[](CAtom&) {}, [](CAtom&) {}},
        {Real(-INFINITY)}, {Real(-3e9)}, {Int(INT32_MIN)}, {Real(-2.5)}, {Int(-1), Real(-1.0)},
        {Real(-0.0), Real(0.0), Int(0), Bool(0), Unsigned(0)}, {Real(0.4)}, {Int(1), Unsigned(1), Real(1.0), Bool(5)},
        {Real(2.5)}, {Int(INT32_MAX)}, {Unsigned(2147483648u), Real(2147483648.0)}, {Unsigned(3000000000u), Real(3e9)},
        {Unsigned(UINT32_MAX)}, {Real(INFINITY)}, {Real(kNaN), Real(-kNaN)},
        {Typed(MbTypeCookie, 0)}, {Typed(MbTypeCookie, 0xFFFFFFFF)}, {Typed(MbTypeCookie, INT64_MIN)},
        {Typed(MbTypeLocalTime, -1)}, {Typed(MbTypeLocalTime, 5)},
        {Typed(MbTypeUtcTime, -2)}, {Typed(MbTypeUtcTime, 1)},
        {String(nullptr)}, {String("")}, {String("B"), Blob("B")}, {String("a")}, {Blob("ab"), String("ab")},
        {String("abc")}, {String("~")}, {String("\x80")},
        {Typed(MbTypeItem, 0)}, {Typed(200, 0)},
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
