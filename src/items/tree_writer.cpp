// CTreeWriter: the stored form of wrappers, lists and maps without recursion.
#include <algorithm>
#include <cstring>

#include "base/coding.h"
#include "items/item.h"
#include "items/item_report.h"
#include "items/locked_frames.h"
#include "items/storage.h"
#include "items/tree_walk.h"

namespace {
void ReportUnknownKind(uint8_t letter) {
    ReportItemError("unknown item type written to storage (0x%02X)", letter);
}
}  // namespace

class CTreeWriter {
public:
    explicit CTreeWriter(CStorage& stream) : stream_(stream), start_(stream.Length()) {}

    void Item(CItem& item);
    void List(CList& list);
    void Map(CMap& map);
    // Writes the elements of every entered container; returns the bytes appended since start.
    uint16_t Finish();

private:
    // The 16-bit count; true when it was written.
    bool Count(size_t count);
    // The unmade elements that end a list.
    void Unmade(uint32_t count);

    CStorage& stream_;
    const uint32_t start_;
    CLockedFrames frames_;
};

bool CTreeWriter::Count(size_t count) {
    uint8_t field[2];
    EncodeFixed16(field, static_cast<uint16_t>(count));
    return stream_.WriteBytes(field, 2) == 2;
}

// The count and the elements are written under the list's lock, taken here and held until
// Finish has written the last element.
void CTreeWriter::List(CList& list) {
    CLockedFrames::Frame& frame = frames_.Enter(list, false);
    frame.count = static_cast<uint32_t>(list.elements_.size() + list.unmade_);
    if (!Count(frame.count) || frame.count == 0) frames_.Leave();
}

void CTreeWriter::Map(CMap& map) {
    CLockedFrames::Frame& frame = frames_.Enter(map, true);
    frame.count = static_cast<uint32_t>(map.entries_.size());
    if (!Count(frame.count) || frame.count == 0) frames_.Leave();
}

// A missing child is written as a new empty one would be: "n" for an atom, 00 00 for a list
// or a map.
void CTreeWriter::Item(CItem& item) {
    const uint8_t letter = CItem::KindLetter(item.GetType());
    if (letter == 0 || !stream_.WriteByte(letter)) return;
    static const uint8_t kEmpty[2] = {0, 0};
    switch (item.GetType()) {
        case MbTypeAtom:
            if (CAtom* atom = item.GetAtom()) {
                atom->Write(stream_);
            } else {
                stream_.WriteByte('n');
            }
            return;
        case MbTypeList:
            if (CList* list = item.GetList()) {
                List(*list);
            } else {
                stream_.WriteBytes(kEmpty, 2);
            }
            return;
        case MbTypeMap:
            if (CMap* map = item.GetMap()) {
                Map(*map);
            } else {
                stream_.WriteBytes(kEmpty, 2);
            }
            return;
        default: ReportUnknownKind(letter);
    }
}

// Unmade elements are empty wrappers, stored as their letter alone; their unknown kind is
// reported once for all of them. The letters go out in pieces that fit the stream; once it is
// full, one letter more fails it, as the letters one by one would have.
void CTreeWriter::Unmade(uint32_t count) {
    const uint8_t letter = CItem::KindLetter(MbTypeItem);
    uint8_t piece[256];
    std::memset(piece, letter, sizeof piece);
    bool reported = false;
    while (count != 0) {
        const uint32_t room = CStorage::kMaxLength - stream_.Length();
        const auto size = static_cast<uint16_t>(std::min<uint32_t>({count, sizeof piece, room == 0 ? 1 : room}));
        if (stream_.WriteBytes(piece, size) != size) return;
        if (!reported) ReportUnknownKind(letter);
        reported = true;
        count -= size;
    }
}

// A failed stream takes no more bytes, so the walk stops there; this also ends the walk of a
// tree that contains itself.
uint16_t CTreeWriter::Finish() {
    while (!frames_.Empty() && !stream_.Failed()) {
        CLockedFrames::Frame& frame = frames_.Top();
        if (frame.next == frame.count) {
            frames_.Leave();
            continue;
        }
        const uint32_t index = frame.next++;
        if (frame.isMap) {
            const CMap::Entry entry = static_cast<CMap*>(frame.container)->entries_[index];
            entry.key->Write(stream_);
            Item(*entry.value);
        } else if (const auto* list = static_cast<CList*>(frame.container); index < list->elements_.size()) {
            Item(*list->elements_[index]);
        } else {
            Unmade(frame.count - index);
            frame.next = frame.count;
        }
    }
    while (!frames_.Empty()) frames_.Leave();
    return static_cast<uint16_t>(stream_.Length() - start_);
}

uint16_t WriteTree(CStorage& stream, CItem& root) {
    return WalkTree(&CTreeWriter::Item, root, stream);
}

uint16_t WriteTree(CStorage& stream, CList& root) {
    return WalkTree(&CTreeWriter::List, root, stream);
}

uint16_t WriteTree(CStorage& stream, CMap& root) {
    return WalkTree(&CTreeWriter::Map, root, stream);
}
