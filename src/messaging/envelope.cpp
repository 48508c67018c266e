#include "messaging/envelope.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "base/coding.h"
#include "items/item.h"
#include "items/item_handles.h"
#include "items/storage.h"

namespace {

// The 16-bit little-endian field of counts and string lengths.
bool WriteField(CStorage& stream, size_t value) {
    uint8_t field[2];
    EncodeFixed16(field, static_cast<uint16_t>(value));
    return stream.WriteBytes(field, 2) == 2;
}

// A String atom's form as CAtom::Write gives it: "s", the length field, the bytes. A string
// beyond the stream's limit is refused whole, as a CStr refuses it.
void WriteString(CStorage& stream, const char* bytes, size_t length) {
    if (!stream.WriteByte('s')) return;
    if (length > CStorage::kMaxLength) {
        stream.RefuseOversize(length + 2ull);
        return;
    }
    if (WriteField(stream, length) && length != 0) stream.WriteBytes(bytes, static_cast<uint16_t>(length));
}

}  // namespace

void CEnvelope::Add(const char* key, CItem* value) {
    if (value == nullptr) return;
    if (count_ == kMaxEntries) throw std::logic_error("envelope full");
    entries_[count_++] = CEntry{key, value, std::string()};
}

void CEnvelope::AddText(const char* key, std::string text) {
    if (count_ == kMaxEntries) throw std::logic_error("envelope full");
    entries_[count_++] = CEntry{key, nullptr, std::move(text)};
}

bool CEnvelope::Store(CStorage& stream) const {
    if (!stream.OpenForWriting()) return false;
    std::array<const CEntry*, kMaxEntries> sorted;
    for (size_t i = 0; i < count_; ++i) sorted[i] = &entries_[i];
    // String keys sort by their bytes (the keys are distinct literals).
    std::sort(sorted.begin(), sorted.begin() + count_,
              [](const CEntry* a, const CEntry* b) { return std::strcmp(a->key, b->key) < 0; });
    if (stream.WriteByte('M') && WriteField(stream, count_)) {
        for (size_t i = 0; i < count_ && !stream.Failed(); ++i) {
            const CEntry& entry = *sorted[i];
            WriteString(stream, entry.key, std::strlen(entry.key));
            if (entry.item != nullptr) {
                entry.item->Write(stream);
            } else if (stream.WriteByte('A')) {
                WriteString(stream, entry.text.data(), entry.text.size());
            }
        }
    }
    stream.Close();
    return !stream.Failed() && stream.OpenForReading(true);
}
