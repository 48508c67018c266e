// CTreeRenderer: the text form of wrappers, lists and maps without recursion.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "items/item.h"
#include "items/storage.h"
#include "items/tree_walk.h"
#include "items/tree_walker.h"

class CTreeRenderer : public CTreeWalker<CTreeRenderer, 1> {
public:
    CTreeRenderer(CStorage& stream, bool bare) : stream_(stream), bare_(bare), start_(stream.Length()) {}

    void Item(CItem& item);
    // Enters a list or a map and opens its brackets.
    template <class TContainer>
    void Container(TContainer& container) {
        Decoration(Enter(std::array{&container}).isMap ? "{" : "[");
    }
    // Renders the elements of every entered container; returns the bytes appended since start.
    uint16_t Finish();

private:
    friend class CTreeWalker<CTreeRenderer, 1>;

    void Next(uint32_t index) {
        if (index != 0) Decoration(", ");
    }
    void Entry(const Entries& entries) {
        entries[0].key->Render(stream_, bare_);
        Decoration(":");
        Item(*entries[0].value);
    }
    void Element(const Elements& elements) { Item(*elements[0]); }
    // The last count elements of a list, all unmade (the separator before the first is out).
    void Unmade(uint32_t count);
    void Leaving(bool isMap) { Decoration(isMap ? "}" : "]"); }
    bool Stopped() const { return stream_.Failed(); }

    // Unless bare: the text.
    void Decoration(const char* text) {
        if (!bare_) stream_.WriteText(text);
    }

    CStorage& stream_;
    const bool bare_;
    const uint32_t start_;
};

namespace {
// The text of a wrapper of no known kind, an empty one among them.
void FormatUnknownKind(char (&text)[32], uint32_t kind) {
    std::snprintf(text, sizeof text, "(unknown item type 0x%02X)", kind);
}
}  // namespace

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
                Container(*list);
            } else {
                Decoration("[]");
            }
            return;
        case MbTypeMap:
            if (CMap* map = item.GetMap()) {
                Container(*map);
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

// Each renders as an empty wrapper does. Those after the first go out several at once, with
// their separators, while they fit the stream; the last few one text at a time, so that a
// stream that fills up fails on the same text as it would element by element. Unmade elements
// render nothing bare.
void CTreeRenderer::Unmade(uint32_t count) {
    if (bare_) return;
    constexpr uint32_t kPerPiece = 16;
    char text[32];
    FormatUnknownKind(text, MbTypeItem);
    Decoration(text);
    const size_t length = std::strlen(text);
    const uint32_t each = static_cast<uint32_t>(2 + length);
    char piece[kPerPiece * sizeof text];
    for (uint32_t i = 0; i < kPerPiece; ++i) {
        std::memcpy(piece + i * each, ", ", 2);
        std::memcpy(piece + i * each + 2, text, length);
    }
    for (uint32_t left = count - 1; left != 0 && !stream_.Failed();) {
        const uint32_t room = stream_.IsWriting() ? CStorage::kMaxLength - stream_.Length() : 0;
        const uint32_t whole = std::min({left, kPerPiece, room / each});
        if (whole == 0) {
            Decoration(", ");
            Decoration(text);
            --left;
        } else {
            stream_.WriteBytes(piece, static_cast<uint16_t>(whole * each));
            left -= whole;
        }
    }
}

uint16_t CTreeRenderer::Finish() {
    Walk();
    return static_cast<uint16_t>(stream_.Length() - start_);
}

uint16_t RenderTree(CStorage& stream, CItem& root, bool bare) {
    return WalkTree(&CTreeRenderer::Item, root, stream, bare);
}

uint16_t RenderTree(CStorage& stream, CList& root, bool bare) {
    return WalkTree(&CTreeRenderer::Container<CList>, root, stream, bare);
}

uint16_t RenderTree(CStorage& stream, CMap& root, bool bare) {
    return WalkTree(&CTreeRenderer::Container<CMap>, root, stream, bare);
}
