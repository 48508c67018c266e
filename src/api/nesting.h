// Containers must form trees. Putting a List or Map item into itself, or into a container below
// it, would make a cycle of references that is never freed and that every walk of the tree
// (store, render, compare, release) would follow for ever; the exported functions that put an
// item into a container refuse such a value.
#pragma once

#include "items/item.h"

// True when `container`'s List or Map is `value`'s own child or is reachable below it. The
// walk locks each container of `value`'s tree from the outside in while it reads its elements,
// visits each container once, and costs nothing for an atom value.
bool WouldNestInItself(CItem& value, CItem& container);
