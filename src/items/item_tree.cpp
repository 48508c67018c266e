#include "items/item_tree.h"

#include <new>

#include "items/storage.h"

namespace {

// A new wrapper holding a Blob atom with a copy of the bytes (no string for none); empty when an
// allocation failed.
CRef<CItem> NewBlob(const uint8_t* bytes, uint16_t length) {
    CRef<CItem> item = CItem::NewAtom();
    if (!item || !item->GetAtom()->SetBlob(bytes, length)) return CRef<CItem>();
    return item;
}

// The stream of one procedure, empty when it cannot be made. Made with new, it lives in a slab
// block, where the tracker marks it in place instead of in its shared table.
CRef<CStorage> NewStream() {
    return CRef<CStorage>::Adopt(new (std::nothrow) CStorage);
}

}  // namespace

// The blob takes over the stream's buffer instead of a copy of it.
CRef<CItem> StoreItem(CItem& item) {
    CRef<CStorage> stream = NewStream();
    if (!stream || !stream->OpenForWriting()) return CRef<CItem>();
    item.Write(*stream);
    if (stream->Failed()) return CRef<CItem>();
    CRef<CItem> blob = CItem::NewAtom();
    if (blob) blob->GetAtom()->TakeBlob(*stream);
    return blob;
}

// The tree is read from the caller's bytes where they are.
CRef<CItem> LoadItem(const void* bytes, size_t length) {
    if (bytes == nullptr || length == 0 || length > CStorage::kMaxLength) return CRef<CItem>();
    CRef<CStorage> stream = NewStream();
    if (!stream || !stream->OpenForReading(bytes, static_cast<uint32_t>(length))) return CRef<CItem>();
    CRef<CItem> item = CRef<CItem>::Adopt(new (std::nothrow) CItem);
    if (item) item->Read(*stream);
    return item;
}

CRef<CItem> RenderItem(CItem& item, bool bare) {
    CRef<CStorage> stream = NewStream();
    if (!stream || !stream->OpenForWriting()) return CRef<CItem>();
    item.Render(*stream, bare);
    if (!bare && stream->Length() > CStorage::kHeaderSize) stream->WriteByte(0);
    stream->Close();
    if (stream->Failed() || !stream->OpenForReading(false)) return CRef<CItem>();
    uint16_t length = 0;
    const uint8_t* text = stream->PeekRemaining(&length);
    return NewBlob(text, length);
}
