// Lookups for the library's own use of items: each hands out what it finds with a reference,
// taken under the container's lock, so that a change on another thread cannot free it first.
#pragma once

#include <string>

#include "items/item.h"

// The value under the String key `text` when `container` is a Map; empty otherwise.
CRef<CItem> FindNamed(CItem& container, const char* text);
// Whether `container` is a Map with a value under the String key `text`.
bool HasNamed(CItem& container, const char* text);
// A new Atom item holding a String of the text; empty when an allocation failed.
CRef<CItem> NewStringItem(const char* text);
// The text form of the item, up to its first NUL; "" when it cannot be rendered.
std::string ItemText(CItem& item);
