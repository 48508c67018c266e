// CEnvelope: the envelope map of an item sender (Call, Query, Reply) stored straight into bytes.
// The bytes are those of a new Map with one MbMapSetNamed per entry, stored by MbItemToBytes,
// without making the map, its String keys or the String items of the names it carries.
#pragma once

#include <array>
#include <cstddef>
#include <string>

class CItem;
class CStorage;

class CEnvelope {
public:
    // Adds the caller's item under `key` (a literal that outlives the envelope); a null item
    // adds nothing. The caller keeps the item alive until the envelope is stored.
    void Add(const char* key, CItem* value);
    // Adds a String holding `text` under `key`.
    void AddText(const char* key, std::string text);

    // Opens `stream` for writing and stores the header and the map in it, entries in key order,
    // each written as the map's walk writes it (so a stream that overflows refuses the same byte
    // with the same report); then rewinds it for reading. False when the stream failed.
    bool Store(CStorage& stream) const;

private:
    struct CEntry {
        const char* key;
        CItem* item;       // the caller's item, or null for a text entry
        std::string text;  // the text of a String entry
    };
    static constexpr size_t kMaxEntries = 5;

    std::array<CEntry, kMaxEntries> entries_;
    size_t count_ = 0;
};
