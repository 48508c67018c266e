// CPrivateBuild: a tree that one thread builds before anyone else can reach it. While one lives
// on a thread, the lists and maps that thread makes are private: their locks are skipped, as no
// other thread can reach them (a lock pair is two atomic instructions and two clock reads, many
// times the cost of the insert it guards). Share hands the finished tree on with every lock
// working again.
//
// Invariant: nothing below a shared list or map is private. A private build therefore fills
// only the containers it made (putting shared items into them is fine), and the tree is shared
// before any other thread or any handle can reach it.
#pragma once

#include "items/item.h"

class CPrivateBuild {
public:
    CPrivateBuild();
    // Ends the build on this thread (when Share did not); a tree dropped unshared goes with it.
    ~CPrivateBuild();
    CPrivateBuild(const CPrivateBuild&) = delete;
    CPrivateBuild& operator=(const CPrivateBuild&) = delete;

    // Ends the build and shares the tree below root: every private list and map in it becomes
    // shared, without recursion. Returns the root.
    CRef<CItem> Share(CRef<CItem> root);

private:
    // The state of an enclosing build, restored at the end.
    const bool outer_;
    bool ended_ = false;
};
