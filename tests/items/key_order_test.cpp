#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <random>

#include "items/item_testing.h"
#include "items/key_order.h"

namespace {

// Random atoms of every type, drawn from small value pools so that equal and equivalent keys
// of different types (Int 1, Unsigned 1, Real 1.0, Bool true; Blob and String "ab") are common.
class CAtomSource {
public:
    explicit CAtomSource(uint32_t seed) : random_(seed) {}

    CRef<CAtom> Next() {
        static const double reals[] = {-3e9, -2.5, -1.0, -0.0, 0.0, 0.4, 1.0, 2.5, 3e9,
                                       std::numeric_limits<double>::quiet_NaN(), INFINITY, -INFINITY};
        static const int32_t ints[] = {INT32_MIN, -3, -1, 0, 1, 2, 3, INT32_MAX};
        static const uint32_t unsigneds[] = {0, 1, 2, 3, 2147483648u, UINT32_MAX};
        static const char* texts[] = {nullptr, "", "a", "ab", "B", "\x80", "abc"};
        CRef<CAtom> atom = CRef<CAtom>::Adopt(new CAtom);
        const uint32_t pick = Below(16);
        switch (pick) {
            case 0: break;
            case 1: atom->SetBool(static_cast<int32_t>(Below(3)) - 1); break;
            case 2: atom->SetInt(ints[Below(8)]); break;
            case 3: atom->SetUnsigned(unsigneds[Below(6)]); break;
            case 4: atom->SetReal(reals[Below(12)]); break;
            case 5: atom->SetCookie(Below(3), Below(2) ? 0x80000000u : 0); break;
            case 6: atom->SetLocalTime(static_cast<int64_t>(Below(5)) - 2); break;
            case 7: atom->SetUtcTime(static_cast<int64_t>(Below(5)) - 2); break;
            case 8:
            case 9: {
                const char* text = texts[Below(7)];
                atom->SetString(text);
                break;
            }
            case 10: {
                const char* text = texts[Below(7)];
                atom->SetBlob(text, text == nullptr ? 0 : static_cast<uint16_t>(std::strlen(text)));
                break;
            }
            default: atom->SetInt(static_cast<int32_t>(Below(5)) - 2); break;
        }
        return atom;
    }

private:
    uint32_t Below(uint32_t bound) { return std::uniform_int_distribution<uint32_t>(0, bound - 1)(random_); }
    std::mt19937 random_;
};

bool Less(const CRef<CAtom>& a, const CRef<CAtom>& b) {
    return CAtom::Less(a.Get(), b.Get());
}

}  // namespace

class KeyOrderTest : public ItemTest {};

// A strict weak order: irreflexive, asymmetric, transitive, and incomparability is transitive
// (so equivalent keys form classes that the order ranks). Checked over every triple.
TEST_F(KeyOrderTest, IsAStrictWeakOrderOverMixedKeys) {
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        CAtomSource source(seed);
        std::vector<CRef<CAtom>> atoms;
        for (int i = 0; i < 70; ++i) atoms.push_back(source.Next());
        const size_t n = atoms.size();
        std::vector<char> less(n * n);
        for (size_t i = 0; i < n; ++i) {
            for (size_t j = 0; j < n; ++j) less[i * n + j] = Less(atoms[i], atoms[j]);
        }
        for (size_t i = 0; i < n; ++i) {
            ASSERT_FALSE(less[i * n + i]) << "seed " << seed << ": " << Rendered(*atoms[i].Get());
            for (size_t j = 0; j < n; ++j) {
                ASSERT_FALSE(less[i * n + j] && less[j * n + i]) << Rendered(*atoms[i].Get()) << " "
                                                                 << Rendered(*atoms[j].Get());
                for (size_t k = 0; k < n; ++k) {
                    if (less[i * n + j] && less[j * n + k]) {
                        ASSERT_TRUE(less[i * n + k]);
                    }
                    const bool ijEquivalent = !less[i * n + j] && !less[j * n + i];
                    const bool jkEquivalent = !less[j * n + k] && !less[k * n + j];
                    if (ijEquivalent && jkEquivalent) {
                        ASSERT_TRUE(!less[i * n + k] && !less[k * n + i])
                            << Rendered(*atoms[i].Get()) << " ~ " << Rendered(*atoms[j].Get()) << " ~ "
                            << Rendered(*atoms[k].Get());
                    }
                }
            }
        }
    }
}

// Keys of one type keep the order of that type's own comparison; None keys come first; Blob
// and String keys order by their bytes, across the two types.
TEST_F(KeyOrderTest, KeepsTheOrderOfEachTypeNoneFirstAndBytesAcrossBlobAndString) {
    CAtomSource source(99);
    std::vector<CRef<CAtom>> atoms;
    for (int i = 0; i < 400; ++i) atoms.push_back(source.Next());
    auto sameTypeLess = [](const CAtom& a, const CAtom& b) -> std::optional<bool> {
        switch (a.GetType()) {
            case MbTypeBool: return a.GetBool() == 0 && b.GetBool() != 0;
            case MbTypeInt: return a.GetInt() < b.GetInt();
            case MbTypeUnsigned: return a.GetUnsigned() < b.GetUnsigned();
            case MbTypeCookie: return a.GetCookie() < b.GetCookie();
            case MbTypeLocalTime: return a.GetLocalTime() < b.GetLocalTime();
            case MbTypeUtcTime: return a.GetUtcTime() < b.GetUtcTime();
            case MbTypeReal:
                if (std::isnan(a.GetReal()) || std::isnan(b.GetReal())) return std::nullopt;
                return a.GetReal() < b.GetReal();
            case MbTypeNone: return false;
            default: return CStr::Less(a.HeldString(), b.HeldString());
        }
    };
    for (const CRef<CAtom>& a : atoms) {
        for (const CRef<CAtom>& b : atoms) {
            const uint32_t ta = a->GetType(), tb = b->GetType();
            const bool bytes = CAtom::IsBytes(ta) && CAtom::IsBytes(tb);
            if (ta == tb || bytes) {
                const std::optional<bool> expected = sameTypeLess(*a.Get(), *b.Get());
                if (expected) {
                    EXPECT_EQ(Less(a, b), *expected) << Rendered(*a.Get()) << " " << Rendered(*b.Get());
                }
            }
            if (ta == MbTypeNone) {
                EXPECT_EQ(Less(a, b), tb != MbTypeNone);
            }
        }
    }
}

TEST_F(KeyOrderTest, NaNSortsAfterEveryNumberAndBeforeCookies) {
    CAtom nan, infinity, cookie, intMax;
    nan.SetReal(std::numeric_limits<double>::quiet_NaN());
    infinity.SetReal(INFINITY);
    cookie.SetCookie(0, 0);
    intMax.SetInt(INT32_MAX);
    EXPECT_TRUE(CAtom::Less(&infinity, &nan));
    EXPECT_TRUE(CAtom::Less(&intMax, &nan));
    EXPECT_TRUE(CAtom::Less(&nan, &cookie));
    CAtom otherNan;
    otherNan.SetReal(-std::numeric_limits<double>::quiet_NaN());
    EXPECT_FALSE(CAtom::Less(&nan, &otherNan));
    EXPECT_FALSE(CAtom::Less(&otherNan, &nan));
}
