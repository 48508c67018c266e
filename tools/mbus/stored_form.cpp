// Storing items and loading them back whole.
#include "stored_form.h"

#include "tool.h"

namespace {

// The header's letters, length and format version; the library's version number follows them.
constexpr size_t kHeaderStart = 8;

}  // namespace

std::string StoredBytes(MbItem item) {
    CItemRef blob(MbItemToBytes(item));
    const void* data = nullptr;
    uint16_t length = 0;
    if (MbAtomGetBlob(blob.Get(), &data, &length) != MbResultOk) return "";
    return std::string(static_cast<const char*>(data), length);
}

bool LooksStored(const std::string& bytes) {
    static const std::string header = [] {
        CItemRef none(MbAtomNewNone());
        return StoredBytes(none.Get()).substr(0, kHeaderStart);
    }();
    return header.size() == kHeaderStart && bytes.compare(0, kHeaderStart, header) == 0;
}

// A load reads what the bytes hold and traces damage as errors; what it could not use shows as
// a stored form of another length.
MbItem LoadStored(const std::string& bytes, std::string* error) {
    if (bytes.size() > 65535) {
        *error = "the bytes are more than a stored item holds (65535)";
        return nullptr;
    }
    if (!LooksStored(bytes)) {
        *error = "the bytes do not begin with the header of stored items";
        return nullptr;
    }
    const unsigned errorsBefore = CLibrary::Errors();
    CItemRef blob(MbAtomNewBlob(bytes.data(), static_cast<uint32_t>(bytes.size())));
    CItemRef item(MbItemFromBytes(blob.Get()));
    if (item.Get() == nullptr || CLibrary::Errors() != errorsBefore) {
        *error = "the stored item is damaged";
        return nullptr;
    }
    const size_t used = StoredBytes(item.Get()).size();
    if (used != bytes.size()) {
        *error = "the stored item takes " + std::to_string(used) + " of the " + std::to_string(bytes.size()) + " bytes";
        return nullptr;
    }
    return item.Release();
}
