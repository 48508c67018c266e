// CTreeReader: reading stored wrappers, lists and maps without recursion.
//
// Each list or map being read has a frame holding the elements or entries read so far; they are
// installed in one step (ReplaceElements, ReplaceEntries) when the last announced element has
// been read, so a container never shows a half-read content.
//
// A stored count announces elements whether or not bytes for them follow; the ones that find
// the stream exhausted are still made, as empty wrappers (and None keys). A prefix of any tree
// that fits in 65,535 bytes misses fewer than 65,536 elements, so up to kMissingLimit such
// elements are made per load, as announced. Bytes that announce more (a few bytes can announce
// 65,535 elements at each of thousands of nesting levels) end the load there: the error
// "stored items announce more elements than they hold" is reported once and every container
// still being read keeps the elements it has.
//
// The cost of a load follows the bytes it holds, not the counts they announce. The missing
// elements of a list, and a run of unknown letters that ends a list, become the list's unmade
// elements (list.h). A map keeps only its first missing entry, as it would anyway: every later
// one has the same None key, and of equal keys the first is kept. And a load reports the first
// damage it finds only (CFirstItemReportOnly).
#include <algorithm>
#include <boost/container/small_vector.hpp>
#include <cstring>
#include <new>

#include "base/coding.h"
#include "items/item.h"
#include "items/item_report.h"
#include "items/key_order.h"
#include "items/storage.h"
#include "items/tree_walk.h"
#include "runtime/reports.h"

namespace {

constexpr uint32_t kMissingLimit = 65535;
constexpr uint32_t kReservedElements = 8;

// The count of leading bytes, up to limit, that are no item letter: each reads as an empty
// wrapper. One memchr per letter, each searching only up to the earliest letter found so far.
uint32_t UnknownRun(const uint8_t* bytes, uint32_t limit) {
    // Most runs are empty: an element's letter comes first.
    if (limit == 0 || bytes[0] == 'A' || bytes[0] == 'L' || bytes[0] == 'M') return 0;
    uint32_t run = limit;
    for (const uint8_t letter : {'A', 'L', 'M'}) {
        const void* found = std::memchr(bytes, letter, run);
        if (found != nullptr) run = static_cast<uint32_t>(static_cast<const uint8_t*>(found) - bytes);
    }
    return run;
}

void ReportUnknownLetter(uint8_t letter) {
    ReportItemError("unknown item type read from storage (0x%02X)", letter);
}

bool KeyLess(const CMap::HeldEntry& a, const CMap::HeldEntry& b) {
    return a.key.Compare(b.key.View()) < 0;
}

// Sorts entries read in stream order into key order and keeps the first of equal keys,
// releasing the later ones. Entries stored by a writer are sorted already.
void SortKeepingFirst(CMap::Entries& entries) {
    const auto notIncreasing = [](const CMap::HeldEntry& a, const CMap::HeldEntry& b) { return !KeyLess(a, b); };
    if (std::adjacent_find(entries.begin(), entries.end(), notIncreasing) == entries.end()) return;
    std::stable_sort(entries.begin(), entries.end(), KeyLess);
    entries.erase(std::unique(entries.begin(), entries.end(), notIncreasing), entries.end());
}

}  // namespace

class CTreeReader {
public:
    explicit CTreeReader(CStorage& stream) : stream_(stream), start_(stream.Cursor()) {}

    void Item(CItem& item);
    // The caller's own list or map: its content is replaced under its lock.
    void RootList(CList& list) {
        rootIsCaller_ = true;
        Enter(list, false);
    }
    void RootMap(CMap& map) {
        rootIsCaller_ = true;
        Enter(map, true);
    }
    // Reads the elements of every entered container; returns the bytes consumed since start.
    uint16_t Finish();

private:
    struct Frame {
        CStorable* container;
        bool isMap;
        uint32_t remaining;
        // A list's unmade elements, behind its elements.
        uint32_t unmade;
        CList::Elements elements;
        CMap::Entries entries;
    };

    void Enter(CStorable& container, bool isMap);
    void Install(Frame& frame);
    void NextElements(Frame& frame);
    void NextElement(Frame& frame);
    void NextEntry(Frame& frame);
    void Missing(Frame& frame);

    CFirstItemReportOnly reports_;
    CStorage& stream_;
    const uint32_t start_;
    // Elements counted as missing so far; at most kMissingLimit.
    uint32_t missing_ = 0;
    bool stopped_ = false;
    // The bottom frame is a container the caller passed in (not one the reader made).
    bool rootIsCaller_ = false;
    // Trees up to eight containers deep are read without allocating frames.
    boost::container::small_vector<Frame, 8> frames_;
};

// A count of 0, or fewer than 2 bytes, empties the container at once.
void CTreeReader::Enter(CStorable& container, bool isMap) {
    uint8_t field[2] = {0, 0};
    const bool whole = stream_.ReadBytes(field, 2) == 2;
    const uint32_t count = whole ? DecodeFixed16(field) : 0;
    frames_.push_back(Frame{&container, isMap, count, 0, {}, {}});
    // Room for a typical container at once; announced counts are not trusted beyond that.
    if (isMap) {
        frames_.back().entries.reserve(std::min<uint32_t>(count, kReservedElements));
    } else {
        frames_.back().elements.reserve(std::min<uint32_t>(count, kReservedElements));
    }
    if (count == 0) {
        Install(frames_.back());
        frames_.pop_back();
    }
}

// A container the reader made itself is reachable only through the tree being read, so its
// content is installed without its lock; the root may be shared and is replaced under it.
void CTreeReader::Install(Frame& frame) {
    const bool root = frames_.size() == 1 && rootIsCaller_;
    if (frame.isMap) {
        SortKeepingFirst(frame.entries);
        auto* map = static_cast<CMap*>(frame.container);
        if (root) {
            map->ReplaceEntries(std::move(frame.entries));
        } else {
            map->entries_.swap(frame.entries);
        }
    } else {
        auto* list = static_cast<CList*>(frame.container);
        if (root) {
            list->ReplaceElements(std::move(frame.elements), frame.unmade);
        } else {
            list->elements_.swap(frame.elements);
            list->unmade_ = frame.unmade;
        }
    }
}

void CTreeReader::Item(CItem& item) {
    uint8_t letter;
    if (!stream_.ReadByte(&letter)) return;
    item.DropChild();
    switch (letter) {
        case 'A': {
            CAtom* atom = new (std::nothrow) CAtom;
            if (atom == nullptr) return ReportError("failed to create new atom");
            item.AdoptChild(MbTypeAtom, CHeldRef<CStorable>::Adopt(atom));
            atom->Read(stream_);
            return;
        }
        case 'L': {
            CList* list = new (std::nothrow) CList;
            if (list == nullptr) return ReportError("failed to create new list");
            item.AdoptChild(MbTypeList, CHeldRef<CStorable>::Adopt(list));
            return Enter(*list, false);
        }
        case 'M': {
            CMap* map = new (std::nothrow) CMap;
            if (map == nullptr) return ReportError("failed to create new map");
            item.AdoptChild(MbTypeMap, CHeldRef<CStorable>::Adopt(map));
            return Enter(*map, true);
        }
        default: ReportUnknownLetter(letter);
    }
}

// Reads the next element of a list, or a run of unknown letters: one that ends the list becomes
// its unmade elements (the first letter reported as any other), a shorter one is read element by
// element, so that no byte is scanned twice. While fewer bytes remain than elements, no run can
// end the list and none is looked for.
void CTreeReader::NextElements(Frame& frame) {
    uint16_t available = 0;
    const uint8_t* bytes = stream_.PeekRemaining(&available);
    const uint32_t run = available < frame.remaining ? 0 : UnknownRun(bytes, frame.remaining);
    if (run == 0) {
        --frame.remaining;
        return NextElement(frame);
    }
    if (run == frame.remaining) {
        ReportUnknownLetter(bytes[0]);
        stream_.Skip(static_cast<uint16_t>(run));
        frame.unmade += run;
        frame.remaining = 0;
        return;
    }
    // Unknown letters enter no frame, so `frame` stays valid.
    for (uint32_t i = 0; i < run; ++i) {
        --frame.remaining;
        NextElement(frame);
    }
}

// Makes and reads one element of the top frame; an element whose wrapper cannot be made is
// skipped. The element's own read may enter a new frame, which invalidates `frame`.
void CTreeReader::NextElement(Frame& frame) {
    CHeldRef<CItem> element = CHeldRef<CItem>::Adopt(new (std::nothrow) CItem);
    if (!element) return;
    CItem& read = *element;
    try {
        frame.elements.push_back(std::move(element));
    } catch (const std::bad_alloc&) {
        ReportError("failed to allocate list while reading storage");
        frame.remaining = 0;
        return;
    }
    Item(read);
}

// The entry is added first and its key read in place: a key kept as bytes is not moved.
void CTreeReader::NextEntry(Frame& frame) {
    CHeldRef<CItem> value = CHeldRef<CItem>::Adopt(new (std::nothrow) CItem);
    if (!value) return ReportError("failed to allocate value while reading map storage");
    CItem& read = *value;
    try {
        frame.entries.push_back(CMap::HeldEntry{{}, std::move(value)});
    } catch (const std::bad_alloc&) {
        ReportError("failed to allocate map while reading storage");
        frame.remaining = 0;
        return;
    }
    if (!frame.entries.back().key.Read(stream_)) {
        frame.entries.pop_back();
        return ReportError("failed to allocate key while reading map storage");
    }
    Item(read);
}

// The elements the top frame announces beyond the last byte, as many as the limit leaves. The
// first is read as any element, from nothing, which reports the short stream. A list takes the
// others as unmade elements; a map takes none of them, since each would repeat the None key of
// the first, and of equal keys the first is kept.
void CTreeReader::Missing(Frame& frame) {
    const uint32_t count = std::min(frame.remaining, kMissingLimit - missing_);
    missing_ += count;
    frame.remaining -= count;
    if (count != 0) {
        if (frame.isMap) {
            NextEntry(frame);
        } else {
            NextElement(frame);
            frame.unmade += count - 1;
        }
    }
    if (frame.remaining != 0) {
        stopped_ = true;
        ReportError("stored items announce more elements than they hold");
    }
}

uint16_t CTreeReader::Finish() {
    while (!frames_.empty()) {
        Frame& frame = frames_.back();
        if (frame.remaining == 0 || stopped_) {
            Install(frame);
            frames_.pop_back();
        } else if (stream_.Exhausted()) {
            Missing(frame);
        } else if (frame.isMap) {
            --frame.remaining;
            NextEntry(frame);
        } else {
            NextElements(frame);
        }
    }
    return static_cast<uint16_t>(stream_.Cursor() - start_);
}

uint16_t ReadTree(CStorage& stream, CItem& root) {
    return WalkTree(&CTreeReader::Item, root, stream);
}

uint16_t ReadTree(CStorage& stream, CList& root) {
    return WalkTree(&CTreeReader::RootList, root, stream);
}

uint16_t ReadTree(CStorage& stream, CMap& root) {
    return WalkTree(&CTreeReader::RootMap, root, stream);
}
