// Private builds: what a build makes skips its locks until the tree is shared, and nothing
// private is left once it is.
#include <functional>
#include <string>

#include "items/private_build.h"
#include "support/item_handles.h"

using PrivateBuild = ItemTest;

namespace {

// The private lists and maps of a tree, however deep.
size_t PrivateContainers(CItem& item) {
    CStorable* child = item.Child();
    size_t count = child != nullptr && child->IsPrivate() ? 1 : 0;
    if (CList* list = item.GetList()) {
        for (uint16_t i = 0; i < list->Count(); ++i) count += PrivateContainers(*list->Get(i));
    } else if (CMap* map = item.GetMap()) {
        CAtom* key = nullptr;
        CItem* value = nullptr;
        for (uint16_t i = 0; map->EntryAt(i, &key, &value); ++i) count += PrivateContainers(*value);
    }
    return count;
}

}  // namespace

// Lists and maps made inside a build are private, and only they; a nested build hands the
// outer one back its state, and a build that ends without sharing (a failure) leaves the
// thread making shared containers again.
TEST_F(PrivateBuild, OnlyContainersMadeInsideArePrivate) {
    CRef<CItem> before = CItem::NewList();
    {
        CPrivateBuild build;
        CRef<CItem> list = CItem::NewList(), map = CItem::NewMap(), atom = CItem::NewAtom();
        EXPECT_TRUE(list->GetList()->IsPrivate());
        EXPECT_TRUE(map->GetMap()->IsPrivate());
        EXPECT_FALSE(atom->IsPrivate() || atom->GetAtom()->IsPrivate() || list->IsPrivate());
        EXPECT_FALSE(before->GetList()->IsPrivate());
        {
            CPrivateBuild inner;
            EXPECT_EQ(PrivateContainers(*inner.Share(CItem::NewMap())), 0u);
        }
        EXPECT_TRUE(CItem::NewList()->GetList()->IsPrivate()) << "the outer build goes on";
    }
    EXPECT_FALSE(CItem::NewList()->GetList()->IsPrivate());
}

// Share reaches every container, deeper and wider than its own small stack, through lists and
// maps alike, and leaves a shared subtree as it is.
TEST_F(PrivateBuild, ShareReachesEveryContainer) {
    CRef<CItem> outside = CItem::NewList();
    CPrivateBuild build;
    CRef<CItem> root = CItem::NewMap();
    CItem* level = root.Get();
    for (int depth = 0; depth < 40; ++depth) {
        CRef<CItem> list = CItem::NewList();
        for (int i = 0; i < 20; ++i) ASSERT_TRUE(list->GetList()->Append(CItem::NewMap()));
        CItem* next = list.Get();
        ASSERT_TRUE(level->GetMap() != nullptr ? level->GetMap()->SetNamed(std::to_string(depth).c_str(), std::move(list))
                                               : level->GetList()->Append(std::move(list)));
        level = depth % 2 == 0 ? next : next->GetList()->Get(3);
    }
    ASSERT_TRUE(root->GetMap()->SetNamed("outside", outside.Get()));
    EXPECT_EQ(PrivateContainers(*root), 1u + 40u + 40u * 20u);
    EXPECT_EQ(PrivateContainers(*build.Share(std::move(root))), 0u);
    EXPECT_FALSE(outside->GetList()->IsPrivate());
}
