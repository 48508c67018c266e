// CTreeComparer: SameTree, two trees compared node by node without recursion.
#include <array>

#include "items/item.h"
#include "items/item_tree.h"
#include "items/key_order.h"
#include "items/tree_walker.h"

namespace {

CKeyView ViewOf(const CAtom& atom) {
    return CKeyView::Of(atom);
}

CKeyView ViewOf(const CMapKey& key) {
    return key.View();
}

// For two atoms, or two map keys. Two Blob or String values are alike when the key order
// finds them equal: both without a string, both holding nothing, or both the same bytes.
template <class TAtom>
bool SameAtom(const TAtom& a, const TAtom& b) {
    if (a.GetType() != b.GetType()) return false;
    if (CAtom::IsBytes(a.GetType())) return CompareKeys(ViewOf(a), ViewOf(b)) == 0;
    return a.CellBits() == b.CellBits();
}

bool IsEmptyWrapper(const CItem* item) {
    return item == nullptr || (item->GetType() == MbTypeItem && item->Child() == nullptr);
}

}  // namespace

// Walks both trees side by side, each pair of containers locked while its elements are
// compared, and stops at the first difference.
class CTreeComparer : public CTreeWalker<CTreeComparer, 2> {
public:
    bool Compare(CItem& a, CItem& b) {
        same_ = Item(&a, &b);
        Walk();
        return same_;
    }

private:
    friend class CTreeWalker<CTreeComparer, 2>;

    void Entry(const Entries& entries) {
        same_ = SameAtom(*entries[0].key, *entries[1].key) && Item(entries[0].value, entries[1].value);
    }
    void Element(const Elements& elements) { same_ = Item(elements[0], elements[1]); }
    // Unmade elements run to the end of both lists alike.
    void Unmade(uint32_t) {}
    bool Stopped() const { return !same_; }

    // Null stands for an unmade element: an empty wrapper. Lists and maps are entered, so that
    // their elements are compared next; they differ here already when their counts differ.
    bool Item(CItem* a, CItem* b) {
        if (a == nullptr || b == nullptr) return IsEmptyWrapper(a) && IsEmptyWrapper(b);
        if (a->GetType() != b->GetType()) return false;
        if ((a->Child() == nullptr) != (b->Child() == nullptr)) return false;
        if (a->GetAtom() != nullptr) return b->GetAtom() != nullptr && SameAtom(*a->GetAtom(), *b->GetAtom());
        if (a->GetList() != nullptr) return Containers(*a->GetList(), *b->GetList());
        if (a->GetMap() != nullptr) return Containers(*a->GetMap(), *b->GetMap());
        return true;
    }

    template <class TContainer>
    bool Containers(TContainer& a, TContainer& b) {
        return Enter(std::array{&a, &b}).count == CountOf(b);
    }

    bool same_ = true;
};

bool SameTree(CItem& a, CItem& b) {
    CTreeComparer comparer;
    return comparer.Compare(a, b);
}
