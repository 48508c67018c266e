// The private export table: the word 0x1F00, the count, the entry points, and the 32-bit
// FNV-1a hash of each published name in ascending order (entry i belongs to hash i).
#include <mbus/loader.h>
#include <mbus/mbus.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "loader/export_names.h"
#include "loader/singleton_module.h"

namespace {

constexpr uint32_t kTableMagic = 0x1F00;

constexpr uint32_t HashName(std::string_view name) {
    uint32_t hash = 2166136261u;
    for (char c : name) {
        hash ^= static_cast<uint8_t>(c);
        hash *= 16777619u;
    }
    return hash;
}

#define MB_NAME(name) #name,
#define MB_NAME_AS(text, function) text,
constexpr std::string_view kNames[] = {MB_EXPORT_LIST(MB_NAME, MB_NAME_AS)};
#undef MB_NAME
#undef MB_NAME_AS

constexpr size_t kCount = std::size(kNames);
static_assert(kCount == 106, "the export table has 106 entries");

// Positions in kNames, sorted by hash: computed at compile time.
constexpr std::array<size_t, kCount> SortedOrder() {
    std::array<size_t, kCount> order{};
    for (size_t i = 0; i < kCount; ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [](size_t a, size_t b) { return HashName(kNames[a]) < HashName(kNames[b]); });
    return order;
}
constexpr std::array<size_t, kCount> kOrder = SortedOrder();

constexpr bool HashesUnique() {
    for (size_t i = 1; i < kCount; ++i) {
        if (HashName(kNames[kOrder[i - 1]]) == HashName(kNames[kOrder[i]])) return false;
    }
    return true;
}
static_assert(HashesUnique(), "export name hashes must be unique");

struct CExportTable {
    uint32_t magic;
    uint32_t count;
    const void* entries[kCount];
    uint32_t hashes[kCount];
};

#define MB_ENTRY(name) reinterpret_cast<const void*>(&name),
#define MB_ENTRY_AS(text, function) reinterpret_cast<const void*>(&function),

CExportTable MakeTable() {
    const void* const unsorted[] = {MB_EXPORT_LIST(MB_ENTRY, MB_ENTRY_AS)};
    CExportTable table{kTableMagic, kCount, {}, {}};
    for (size_t i = 0; i < kCount; ++i) {
        table.entries[i] = unsorted[kOrder[i]];
        table.hashes[i] = HashName(kNames[kOrder[i]]);
    }
    return table;
}

#undef MB_ENTRY
#undef MB_ENTRY_AS

const CExportTable& Table() {
    static const CExportTable table = MakeTable();
    return table;
}

}  // namespace

extern "C" const void* LumbraExportTable(void) noexcept {
    return &Table();
}

extern "C" uint32_t LumbraHashName(const char* name) noexcept {
    return name == nullptr ? 0 : HashName(name);
}

extern "C" void* LumbraGetProcAddress(const char* name) noexcept {
    if (name == nullptr) return nullptr;
    const CExportTable& table = Table();
    const uint32_t hash = HashName(name);
    const uint32_t* found = std::lower_bound(table.hashes, table.hashes + kCount, hash);
    if (found == table.hashes + kCount || *found != hash) return nullptr;
    const size_t index = static_cast<size_t>(found - table.hashes);
    if (kNames[kOrder[index]] != name) return nullptr;
    return const_cast<void*>(table.entries[index]);
}
