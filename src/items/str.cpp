#include "items/str.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "items/storage.h"

namespace {

// A malloc'd copy of length bytes followed by a NUL, or null when length is 0 or the
// allocation fails.
char* CopyBytes(const void* bytes, uint32_t length) {
    if (bytes == nullptr || length == 0) return nullptr;
    auto* copy = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, bytes, length);
    copy[length] = 0;
    return copy;
}

uint32_t TextLength(const char* text) {
    if (text == nullptr) return 0;
    const size_t length = std::strlen(text);
    // Content is counted in 32 bits; longer texts are cut at 4 GiB - 1 and then refused by
    // every stored or rendered form anyway.
    return length > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(length);
}

}  // namespace

// No other thread can see an object under construction, so the constructors set the content
// without taking the lock.
CStr::CStr(const char* text) {
    className = "CStr";
    const uint32_t length = TextLength(text);
    data_ = CopyBytes(text, length);
    length_ = data_ == nullptr ? 0 : length;
}

CStr::CStr(const void* bytes, uint16_t length) {
    className = "CStr";
    data_ = CopyBytes(bytes, length);
    length_ = data_ == nullptr ? 0 : length;
}

CStr::~CStr() {
    std::free(data_);
}

void CStr::Replace(char* data, uint32_t length) {
    char* old;
    {
        ScopedLock hold(*this);
        old = data_;
        data_ = data;
        length_ = data == nullptr ? 0 : length;
    }
    std::free(old);
}

void CStr::Assign(const char* text) {
    const uint32_t length = TextLength(text);
    Replace(CopyBytes(text, length), length);
}

void CStr::Clear() {
    Replace(nullptr, 0);
}

bool CStr::Equals(const CStr* a, const CStr* b) {
    if (a == b) return true;
    if (a == nullptr || b == nullptr) return false;
    if (a->data_ == b->data_) return true;
    if (a->data_ == nullptr || b->data_ == nullptr) return false;
    return a->length_ == b->length_ && std::memcmp(a->data_, b->data_, a->length_) == 0;
}

uint16_t CStr::Render(CStorage& stream, bool bare) {
    ScopedLock hold(*this);
    if (length_ > CStorage::kMaxLength) {
        stream.RefuseOversize(length_);
        return 0;
    }
    uint32_t count = 0;
    if (!bare) count += stream.WriteByte('"') ? 1 : 0;
    count += stream.WriteBytes(data_, static_cast<uint16_t>(length_));
    if (!bare && count != 0) count += stream.WriteByte('"') ? 1 : 0;
    return static_cast<uint16_t>(count);
}

uint16_t CStr::WriteStored(CStorage& stream, CStr* string) {
    if (string != nullptr) return string->Write(stream);
    const uint8_t none[2] = {0, 0};
    return stream.WriteBytes(none, 2);
}

uint16_t CStr::Write(CStorage& stream) {
    ScopedLock hold(*this);
    if (length_ > CStorage::kMaxLength) {
        stream.RefuseOversize(length_ + 2ull);
        return 0;
    }
    const uint8_t field[2] = {static_cast<uint8_t>(length_), static_cast<uint8_t>(length_ >> 8)};
    const uint16_t count = stream.WriteBytes(field, 2);
    if (count != 2 || length_ == 0) return count;
    return static_cast<uint16_t>(count + stream.WriteBytes(data_, static_cast<uint16_t>(length_)));
}

// Reads into the final block directly and hands it out only when complete, so a short stream
// gives no content, never a partial one.
uint16_t CStr::ReadContent(CStorage& stream, char** data, uint32_t* length) {
    *data = nullptr;
    *length = 0;
    uint8_t field[2] = {0, 0};
    const uint16_t got = stream.ReadBytes(field, 2);
    const uint16_t announced = static_cast<uint16_t>(field[0] | field[1] << 8);
    if (announced == 0) return got;
    auto* block = static_cast<char*>(std::malloc(static_cast<size_t>(announced) + 1));
    if (block == nullptr) return got;
    const uint16_t read = stream.ReadBytes(block, announced);
    if (read == announced) {
        block[announced] = 0;
        *data = block;
        *length = announced;
    } else {
        std::free(block);
    }
    return static_cast<uint16_t>(got + read);
}

uint16_t CStr::Read(CStorage& stream) {
    char* data;
    uint32_t length;
    const uint16_t consumed = ReadContent(stream, &data, &length);
    Replace(data, length);
    return consumed;
}

CStr* CStr::ReadNew(CStorage& stream, uint16_t* consumed) {
    CStr* string = new (std::nothrow) CStr;
    if (string == nullptr) return nullptr;
    *consumed = ReadContent(stream, &string->data_, &string->length_);
    return string;
}
