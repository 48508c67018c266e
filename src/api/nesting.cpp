#include "api/nesting.h"

#include <array>
#include <unordered_set>

#include "items/tree_walker.h"

namespace {

// Walks a value's tree, each container once, until it meets the target container.
class CNestingFinder : public CTreeWalker<CNestingFinder, 1> {
public:
    explicit CNestingFinder(const CStorable* target) : target_(target) {}

    bool Reaches(CItem& value) {
        Meet(value);
        Walk();
        return found_;
    }

private:
    friend class CTreeWalker<CNestingFinder, 1>;

    void Entry(const Entries& entries) { Meet(*entries[0].value); }
    void Element(const Elements& elements) { Meet(*elements[0]); }
    // A list's unmade elements are empty wrappers: they hold no container.
    void Unmade(uint32_t) {}
    bool Stopped() const { return found_; }

    // Enters the item's container unless it is the target or was walked already.
    void Meet(CItem& item) {
        if (CList* list = item.GetList()) {
            Visit(*list);
        } else if (CMap* map = item.GetMap()) {
            Visit(*map);
        }
    }
    template <class TContainer>
    void Visit(TContainer& container) {
        if (&container == target_) {
            found_ = true;
        } else if (visited_.insert(&container).second) {
            Enter(std::array{&container});
        }
    }

    const CStorable* const target_;
    std::unordered_set<const CStorable*> visited_;
    bool found_ = false;
};

const CStorable* ContainerOf(const CItem& item) {
    if (CList* list = item.GetList()) return list;
    return item.GetMap();
}

}  // namespace

bool WouldNestInItself(CItem& value, CItem& container) {
    const CStorable* target = ContainerOf(container);
    if (target == nullptr || ContainerOf(value) == nullptr) return false;
    return CNestingFinder(target).Reaches(value);
}
