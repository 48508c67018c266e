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
// A load reports the first damage it finds only (CFirstItemReportOnly).
#include <algorithm>
#include <new>

#include "items/item.h"
#include "items/item_report.h"
#include "items/key_order.h"
#include "items/storage.h"
#include "items/tree_walk.h"
#include "runtime/reports.h"
#include "runtime/tracker.h"

namespace {

constexpr uint32_t kMissingLimit = 65535;
constexpr uint32_t kReservedElements = 8;

bool KeyLess(const CMap::Entry& a, const CMap::Entry& b) {
    return CompareKeys(CKeyView::Of(*a.key), CKeyView::Of(*b.key)) < 0;
}

// Sorts entries read in stream order into key order and keeps the first of equal keys,
// releasing the later ones. Entries stored by a writer are sorted already.
void SortKeepingFirst(std::vector<CMap::Entry>& entries) {
    const auto strictlyIncreasing = [](const CMap::Entry& a, const CMap::Entry& b) { return !KeyLess(a, b); };
    if (std::adjacent_find(entries.begin(), entries.end(), strictlyIncreasing) == entries.end()) return;
    std::stable_sort(entries.begin(), entries.end(), KeyLess);
    size_t kept = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (kept != 0 && !KeyLess(entries[kept - 1], entries[i])) {
            CheckedRelease(entries[i].key);
            CheckedRelease(entries[i].value);
        } else {
            entries[kept++] = entries[i];
        }
    }
    entries.resize(kept);
}

}  // namespace

class CTreeReader {
public:
    explicit CTreeReader(CStorage& stream) : stream_(stream), start_(stream.Cursor()) {}
    // Releases what frames still hold when an exception ended the read.
    ~CTreeReader();

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
        std::vector<CItem*> elements;
        std::vector<CMap::Entry> entries;
    };

    void Enter(CStorable& container, bool isMap);
    void Install(Frame& frame);
    void NextElement(Frame& frame);
    void NextEntry(Frame& frame);
    // False when the stream is exhausted and the limit of missing elements is reached.
    bool MayMakeElement();

    CFirstItemReportOnly reports_;
    CStorage& stream_;
    const uint32_t start_;
    uint32_t missing_ = 0;
    bool stopped_ = false;
    // The bottom frame is a container the caller passed in (not one the reader made).
    bool rootIsCaller_ = false;
    std::vector<Frame> frames_;
};

CTreeReader::~CTreeReader() {
    for (Frame& frame : frames_) {
        for (CItem* element : frame.elements) CheckedRelease(element);
        for (const CMap::Entry& entry : frame.entries) {
            CheckedRelease(entry.key);
            CheckedRelease(entry.value);
        }
    }
}

// A count of 0, or fewer than 2 bytes, empties the container at once.
void CTreeReader::Enter(CStorable& container, bool isMap) {
    uint8_t field[2] = {0, 0};
    const bool whole = stream_.ReadBytes(field, 2) == 2;
    const uint32_t count = whole ? static_cast<uint32_t>(field[0] | field[1] << 8) : 0;
    frames_.push_back(Frame{&container, isMap, count, {}, {}});
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
            list->ReplaceElements(std::move(frame.elements));
        } else {
            list->elements_.swap(frame.elements);
        }
    }
}

bool CTreeReader::MayMakeElement() {
    if (stopped_) return false;
    if (!stream_.Exhausted() || missing_++ < kMissingLimit) return true;
    stopped_ = true;
    ReportError("stored items announce more elements than they hold");
    return false;
}

void CTreeReader::Item(CItem& item) {
    uint8_t letter;
    if (!stream_.ReadByte(&letter)) return;
    item.DropChild();
    switch (letter) {
        case 'A': {
            CAtom* atom = new (std::nothrow) CAtom;
            if (atom == nullptr) return ReportError("failed to create new atom");
            item.AdoptChild(MbTypeAtom, atom);
            atom->Read(stream_);
            return;
        }
        case 'L': {
            CList* list = new (std::nothrow) CList;
            if (list == nullptr) return ReportError("failed to create new list");
            item.AdoptChild(MbTypeList, list);
            return Enter(*list, false);
        }
        case 'M': {
            CMap* map = new (std::nothrow) CMap;
            if (map == nullptr) return ReportError("failed to create new map");
            item.AdoptChild(MbTypeMap, map);
            return Enter(*map, true);
        }
        default: ReportItemError("unknown item type read from storage (0x%02X)", letter);
    }
}

// Makes and reads one element of the top frame; an element whose wrapper cannot be made is
// skipped. The element's own read may enter a new frame, which invalidates `frame`.
void CTreeReader::NextElement(Frame& frame) {
    CItem* element = new (std::nothrow) CItem;
    if (element == nullptr) return;
    try {
        frame.elements.push_back(element);
    } catch (const std::bad_alloc&) {
        CheckedRelease(element);
        ReportError("failed to allocate list while reading storage");
        frame.remaining = 0;
        return;
    }
    Item(*element);
}

void CTreeReader::NextEntry(Frame& frame) {
    CAtom* key = new (std::nothrow) CAtom;
    if (key == nullptr) return ReportError("failed to allocate key while reading map storage");
    CItem* value = new (std::nothrow) CItem;
    if (value == nullptr) {
        CheckedRelease(key);
        return ReportError("failed to allocate value while reading map storage");
    }
    try {
        frame.entries.push_back(CMap::Entry{key, value});
    } catch (const std::bad_alloc&) {
        CheckedRelease(key);
        CheckedRelease(value);
        ReportError("failed to allocate map while reading storage");
        frame.remaining = 0;
        return;
    }
    key->Read(stream_);
    Item(*value);
}

uint16_t CTreeReader::Finish() {
    while (!frames_.empty()) {
        Frame& frame = frames_.back();
        if (frame.remaining == 0 || !MayMakeElement()) {
            Install(frame);
            frames_.pop_back();
            continue;
        }
        --frame.remaining;
        if (frame.isMap) {
            NextEntry(frame);
        } else {
            NextElement(frame);
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
