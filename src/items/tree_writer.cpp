// CTreeWriter: the stored form of wrappers, lists and maps without recursion.
#include <algorithm>
#include <cstring>

#include "base/coding.h"
#include "items/item.h"
#include "items/item_report.h"
#include "items/storage.h"
#include "items/tree_walk.h"
#include "items/tree_walker.h"

namespace {
void ReportUnknownKind(uint8_t letter) {
    ReportItemError("unknown item type written to storage (0x%02X)", letter);
}
}  // namespace

class CTreeWriter : public CTreeWalker<CTreeWriter, 1> {
public:
    explicit CTreeWriter(CStorage& stream) : stream_(stream), start_(stream.Length()) {}

    void Item(CItem& item);
    // Enters a list or a map and writes its count.
    template <class TContainer>
    void Container(TContainer& container);
    // Writes the elements of every entered container; returns the bytes appended since start.
    uint16_t Finish();

private:
    friend class CTreeWalker<CTreeWriter, 1>;

    void Entry(const Entries& entries) {
        entries[0].key->Write(stream_);
        Item(*entries[0].value);
    }
    void Element(const Elements& elements) { Item(*elements[0]); }
    // The unmade elements that end a list.
    void Unmade(uint32_t count);
    // A failed stream takes no more bytes, so the walk stops there; this also ends the walk of
    // a tree that contains itself.
    bool Stopped() const { return stream_.Failed(); }

    // The 16-bit count; true when it was written.
    bool Count(size_t count);

    CStorage& stream_;
    const uint32_t start_;
};

bool CTreeWriter::Count(size_t count) {
    uint8_t field[2];
    EncodeFixed16(field, static_cast<uint16_t>(count));
    return stream_.WriteBytes(field, 2) == 2;
}

// The count and the elements are written under the container's lock, taken here and held
// until the walk has written the last element.
template <class TContainer>
void CTreeWriter::Container(TContainer& container) {
    const uint32_t count = Enter(std::array{&container}).count;
    if (!Count(count) || count == 0) Leave();
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
                Container(*list);
            } else {
                stream_.WriteBytes(kEmpty, 2);
            }
            return;
        case MbTypeMap:
            if (CMap* map = item.GetMap()) {
                Container(*map);
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

uint16_t CTreeWriter::Finish() {
    Walk();
    return static_cast<uint16_t>(stream_.Length() - start_);
}

uint16_t WriteTree(CStorage& stream, CItem& root) {
    return WalkTree(&CTreeWriter::Item, root, stream);
}

uint16_t WriteTree(CStorage& stream, CList& root) {
    return WalkTree(&CTreeWriter::Container<CList>, root, stream);
}

uint16_t WriteTree(CStorage& stream, CMap& root) {
    return WalkTree(&CTreeWriter::Container<CMap>, root, stream);
}
