// Loads arbitrary bytes as a stored item tree and renders it. When they load, the tree is stored
// again, and those bytes must load to the same tree and store to the same bytes. A tree may not
// fit in a stored form (elements missing from short input are made as empty wrappers, which
// store one byte each); such a store is refused and ends the case.
#include <mbus/mbus.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "items/item_tree.h"
#include "items/str.h"

namespace {

struct CBlobView {
    const char* bytes = nullptr;
    uint32_t length = 0;
};

CBlobView View(CItem& blob) {
    CBlobView view;
    view.bytes = blob.GetAtom()->GetBlob()->GetString(&view.length);
    return view;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return MbLibraryInit() ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CRef<CItem> loaded = LoadItem(data, size);
    if (!loaded) return 0;
    CRef<CItem> text = RenderItem(*loaded.Get(), size % 2 == 0);
    CRef<CItem> stored = StoreItem(*loaded.Get());
    if (!stored) return 0;
    const CBlobView first = View(*stored.Get());
    CRef<CItem> reloaded = LoadItem(first.bytes, first.length);
    if (!reloaded || !SameTree(*loaded.Get(), *reloaded.Get())) std::abort();
    CRef<CItem> storedAgain = StoreItem(*reloaded.Get());
    if (!storedAgain) std::abort();
    const CBlobView second = View(*storedAgain.Get());
    if (second.length != first.length || std::memcmp(second.bytes, first.bytes, first.length) != 0) std::abort();
    return 0;
}
