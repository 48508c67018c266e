// Items in their stored form, the bytes that MbItemToBytes makes and that messages carry.
#pragma once

#include <mbus/mbus.h>

#include <string>

// The stored bytes of `item`, or "" when it cannot be stored.
std::string StoredBytes(MbItem item);

// Whether `bytes` begin with the header of stored items (its letters, length and format version).
bool LooksStored(const std::string& bytes);

// The item that `bytes` store: null, with the reason in `error`, unless they hold one whole
// stored item and nothing else. The library traces what it finds damaged as an error.
MbItem LoadStored(const std::string& bytes, std::string* error);
