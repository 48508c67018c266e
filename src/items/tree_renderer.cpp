// CTreeRenderer: the text form of wrappers, lists and maps without recursion.
#include <cstdio>

#include "items/item.h"
#include "items/locked_frames.h"
#include "items/storage.h"
#include "items/tree_walk.h"

class CTreeRenderer {
public:
    CTreeRenderer(CStorage& stream, bool bare) : stream_(stream), bare_(bare), start_(stream.Length()) {}

    void Item(CItem& item);
    void List(CList& list);
    void Map(CMap& map);
    // Renders the elements of every entered container; returns the bytes appended since start.
    uint16_t Finish();

private:
    // Unless bare: the text.
    void Decoration(const char* text) {
        if (!bare_) stream_.WriteText(text);
    }
    // An unmade list element: the text of an empty wrapper, formatted once per walk.
    void Unmade();

    CStorage& stream_;
    const bool bare_;
    const uint32_t start_;
    CLockedFrames frames_;
    char emptyText_[32] = {};
};

namespace {
// The text of a wrapper of no known kind, an empty one among them.
void FormatUnknownKind(char (&text)[32], uint32_t kind) {
    std::snprintf(text, sizeof text, "(unknown item type 0x%02X)", kind);
}
}  // namespace

void CTreeRenderer::List(CList& list) {
    CLockedFrames::Frame& frame = frames_.Enter(list, false);
    frame.count = static_cast<uint32_t>(list.elements_.size() + list.unmade_);
    Decoration("[");
}

void CTreeRenderer::Map(CMap& map) {
    CLockedFrames::Frame& frame = frames_.Enter(map, true);
    frame.count = static_cast<uint32_t>(map.entries_.size());
    Decoration("{");
}

// A missing child renders as a new empty one would: None, [] or {}.
void CTreeRenderer::Item(CItem& item) {
    switch (item.GetType()) {
        case MbTypeAtom:
            if (CAtom* atom = item.GetAtom()) {
                atom->Render(stream_, bare_);
            } else {
                Decoration("None");
            }
            return;
        case MbTypeList:
            if (CList* list = item.GetList()) {
                List(*list);
            } else {
                Decoration("[]");
            }
            return;
        case MbTypeMap:
            if (CMap* map = item.GetMap()) {
                Map(*map);
            } else {
                Decoration("{}");
            }
            return;
        default: {
            char text[32];
            FormatUnknownKind(text, item.GetType());
            Decoration(text);
        }
    }
}

void CTreeRenderer::Unmade() {
    if (emptyText_[0] == 0) FormatUnknownKind(emptyText_, MbTypeItem);
    Decoration(emptyText_);
}

uint16_t CTreeRenderer::Finish() {
    while (!frames_.Empty() && !stream_.Failed()) {
        CLockedFrames::Frame& frame = frames_.Top();
        if (frame.next == frame.count) {
            Decoration(frame.isMap ? "}" : "]");
            frames_.Leave();
            continue;
        }
        const uint32_t index = frame.next++;
        if (index != 0) Decoration(", ");
        if (frame.isMap) {
            const CMap::Entry entry = static_cast<CMap*>(frame.container)->entries_[index];
            entry.key->Render(stream_, bare_);
            Decoration(":");
            Item(*entry.value);
        } else if (const auto* list = static_cast<CList*>(frame.container); index < list->elements_.size()) {
            Item(*list->elements_[index]);
        } else if (bare_) {
            // Unmade elements render nothing bare.
            frame.next = frame.count;
        } else {
            Unmade();
        }
    }
    while (!frames_.Empty()) frames_.Leave();
    return static_cast<uint16_t>(stream_.Length() - start_);
}

uint16_t RenderTree(CStorage& stream, CItem& root, bool bare) {
    return WalkTree(&CTreeRenderer::Item, root, stream, bare);
}

uint16_t RenderTree(CStorage& stream, CList& root, bool bare) {
    return WalkTree(&CTreeRenderer::List, root, stream, bare);
}

uint16_t RenderTree(CStorage& stream, CMap& root, bool bare) {
    return WalkTree(&CTreeRenderer::Map, root, stream, bare);
}
