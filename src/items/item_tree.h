// The whole-tree procedures: storing a tree (header and item form) into bytes, loading a tree
// from received bytes, rendering a tree as text, and comparing two trees node by node. None of
// them recurses, so trees nested as deep as 65,535 stored bytes allow (about 21,800 lists) are
// handled on any thread, including a worker with a 64 KiB stack.
#pragma once

#include <cstddef>
#include <cstdint>

#include "items/item.h"

// A new Blob item holding the header and the stored form of the item. Empty when the stream
// fails, and when the stored tree would exceed 65,535 bytes (refused with the error report of
// CStorage; nothing partial is ever returned).
CRef<CItem> StoreItem(CItem& item);

// A new wrapper read from bytes that start with the header. Empty when length is 0 or above
// 65,535, when the bytes cannot all be appended to the stream, or when the header is refused.
// A tree that ends early is no failure: the wrapper holds what was read (CTreeReader).
CRef<CItem> LoadItem(const void* bytes, size_t length);

// A new Blob item holding the text form; unless bare, a NUL byte follows a non-empty text. An
// empty text gives a Blob without bytes. Empty when the text would exceed the stream's limit.
CRef<CItem> RenderItem(CItem& item, bool bare);

// True when both trees have the same shape and the same values: equal kinds, equal atom types
// and cells (reals bit for bit, strings byte for byte, a held empty CStr distinct from none),
// lists element by element, maps entry by entry in key order. Locks each container while it
// is compared.
bool SameTree(CItem& a, CItem& b);
