#include "items/str.h"

#include <cstdlib>
#include <cstring>

#include "base/coding.h"
#include "items/storage.h"

namespace {

uint32_t TextLength(const char* text) {
    if (text == nullptr) return 0;
    const size_t length = std::strlen(text);
    // Content is counted in 32 bits; longer texts are cut at 4 GiB - 1 and then refused by
    // every stored or rendered form anyway.
    return length > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(length);
}

}  // namespace

CStr::CStr(const char* text) {
    Assign(text);
}

CStr::CStr(const void* bytes, uint16_t length) {
    Assign(bytes, length);
}

CStr::~CStr() {
    Drop();
}

char* CStr::Reserve(uint32_t length) {
    if (length <= kInlineCapacity) return inline_;
    return static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
}

void CStr::Settle(char* block, uint32_t length, bool complete) {
    if (!complete) {
        if (block != inline_) std::free(block);
        return;
    }
    block[length] = 0;
    data_ = block;
    length_ = length;
}

void CStr::Drop() {
    if (OnHeap()) std::free(data_);
    data_ = nullptr;
    length_ = 0;
}

bool CStr::Assign(const char* text) {
    return Assign(text, TextLength(text));
}

void CStr::Adopt(char* block, uint32_t length) {
    if (length <= kInlineCapacity) {
        Assign(block, length);
        return std::free(block);
    }
    Drop();
    Settle(block, length, true);
}

// The copy is made before the old content goes, so bytes may point into it.
bool CStr::Assign(const void* bytes, uint32_t length) {
    const bool given = bytes != nullptr && length != 0;
    char* block = given ? Reserve(length) : nullptr;
    if (block == nullptr) {
        Drop();
        return !given;
    }
    std::memmove(block, bytes, length);
    if (OnHeap() && data_ != block) std::free(data_);
    Settle(block, length, true);
    return true;
}

bool CStr::Equals(const CStr* a, const CStr* b) {
    if (a == b) return true;
    if (a == nullptr || b == nullptr) return false;
    if (a->data_ == b->data_) return true;
    if (a->data_ == nullptr || b->data_ == nullptr) return false;
    return a->length_ == b->length_ && std::memcmp(a->data_, b->data_, a->length_) == 0;
}

uint16_t CStr::Render(CStorage& stream, bool bare) {
    return RenderBytes(stream, data_, length_, bare);
}

uint16_t CStr::RenderBytes(CStorage& stream, const char* data, uint32_t length, bool bare) {
    if (length > CStorage::kMaxLength) {
        stream.RefuseOversize(length);
        return 0;
    }
    uint32_t count = 0;
    if (!bare) count += stream.WriteByte('"') ? 1 : 0;
    count += stream.WriteBytes(data, static_cast<uint16_t>(length));
    if (!bare && count != 0) count += stream.WriteByte('"') ? 1 : 0;
    return static_cast<uint16_t>(count);
}

uint16_t CStr::Write(CStorage& stream) {
    return WriteBytes(stream, data_, length_);
}

uint16_t CStr::WriteBytes(CStorage& stream, const char* data, uint32_t length) {
    if (length > CStorage::kMaxLength) {
        stream.RefuseOversize(length + 2ull);
        return 0;
    }
    // Length field and content in one append when the stream takes it inline.
    if (uint8_t* at = stream.AppendInPlace(2 + length)) {
        EncodeFixed16(at, static_cast<uint16_t>(length));
        if (length != 0) std::memcpy(at + 2, data, length);
        return static_cast<uint16_t>(2 + length);
    }
    uint8_t field[2];
    EncodeFixed16(field, static_cast<uint16_t>(length));
    const uint16_t count = stream.WriteBytes(field, 2);
    if (count != 2 || length == 0) return count;
    return static_cast<uint16_t>(count + stream.WriteBytes(data, static_cast<uint16_t>(length)));
}

// Reads into the final storage directly and installs it only when complete, so a short stream
// gives no content, never a partial one. The string must be empty.
uint16_t CStr::ReadContent(CStorage& stream) {
    uint8_t field[2] = {0, 0};
    const uint16_t got = stream.ReadBytes(field, 2);
    const uint16_t announced = DecodeFixed16(field);
    if (announced == 0) return got;
    char* block = Reserve(announced);
    if (block == nullptr) return got;
    const uint16_t read = stream.ReadBytes(block, announced);
    Settle(block, announced, read == announced);
    return static_cast<uint16_t>(got + read);
}

uint16_t CStr::Read(CStorage& stream) {
    Drop();
    return ReadContent(stream);
}
