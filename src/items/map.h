// CMap: the keyed container of the item model. Entries pair a key (map_key.h) with an item
// wrapper value, kept unique and sorted by the key order of CAtom::Less (key_order.h). The map
// holds one reference to each value and to each key atom; a key atom is held, not copied, and
// must not change while it is a key. Every operation holds the map's lock while it touches the
// entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "items/map_key.h"
#include "items/storable.h"
#include "runtime/object_memory.h"
#include "runtime/ref_count.h"

class CAtom;
class CItem;

class CMap final : public CStorable {
public:
    static constexpr uint32_t kMaxCount = 65535;

    // A key and its value, as the walkers see them (no references).
    struct Entry {
        CMapKey* key;
        CItem* value;
    };
    // An entry as the map holds it: its key, and one reference to the value.
    struct HeldEntry {
        CMapKey key;
        CHeldRef<CItem> value;
        Entry View() { return Entry{&key, value.Get()}; }
    };
    using Entries = std::vector<HeldEntry, CObjectAllocator<HeldEntry>>;

    CMap() {
        className_ = "CMap";
        TakePrivacy();
    }

    uint16_t Count();
    // The value under the key (no new reference), or null; a null key gives null.
    CItem* Get(const CAtom* key);
    // The same lookup for a String key holding the text (a null text is a String without a
    // CStr), without making a key atom.
    CItem* GetNamed(const char* text);
    // Get and GetNamed for a caller that holds the map's lock.
    CItem* GetLocked(const CAtom* key) REQUIRES(this);
    CItem* GetNamedLocked(const char* text) REQUIRES(this);
    // The key atom at that position in key order (no new reference), or null; made now for a
    // key kept as bytes (null when it cannot be).
    CAtom* KeyAt(uint16_t position);
    // Key atom and value at that position (no new references), the key atom made as by KeyAt;
    // false beyond the end or when the key atom cannot be made.
    bool EntryAt(uint16_t position, CAtom** key, CItem** value);
    // Null key: false. Null value: Remove(key), true. Otherwise the entry (key, value)
    // replaces any entry with an equivalent key, key atom included. A new key beyond 65,535
    // entries is refused (false). References are taken and released after unlocking.
    bool Set(CAtom* key, CItem* value);
    // Set under a String key of the text (map_key.h); false when it cannot be made.
    bool SetNamed(const char* text, CItem* value);
    // Set and SetNamed taking over the caller's reference to the value instead of adding one;
    // an empty value is refused (false).
    bool Set(CAtom* key, CHeldRef<CItem> value);
    bool SetNamed(const char* text, CHeldRef<CItem> value);
    // Takes out the matching entry and releases key and value after unlocking.
    void Remove(const CAtom* key);
    void RemoveNamed(const char* text);
    // Removes every entry, releasing keys and values after unlocking.
    void Clear();

    uint16_t Render(CStorage& stream, bool bare) override;
    uint16_t Read(CStorage& stream) override;
    uint16_t Write(CStorage& stream) override;

private:
    template <class TVisitor, std::size_t N>
    friend class CTreeWalker;
    friend class CTreeReader;
    friend class CPrivateBuild;

    template <class Probe>
    size_t LowerBound(const Probe& probe) const REQUIRES(this);
    template <class Probe>
    CItem* Find(const Probe& probe) REQUIRES(this);
    template <class Probe>
    void RemoveMatching(const Probe& probe);
    // Set for an entry whose references are held already; false when either is missing.
    bool Put(HeldEntry entry) EXCLUDES(this);
    // Installs new entries under the lock and releases the old ones after unlocking.
    void ReplaceEntries(Entries&& entries) EXCLUDES(this);

    // As CList's elements: entries taken out are released after unlocking.
    Entries entries_;
};

// The entries array is object memory, where the bytes of a key kept as bytes must never lie
// at the tracker's stamp place: an address lies there in every array of entries.
static_assert(std::is_standard_layout_v<CMap::HeldEntry> && offsetof(CMap::HeldEntry, key) == 0);
static_assert(CRefCount::StampOffset() % sizeof(CMap::HeldEntry) >= CMapKey::TextEnd() &&
              CRefCount::StampOffset() % sizeof(CMap::HeldEntry) + sizeof(uint64_t) <= sizeof(CMap::HeldEntry));
