#include "items/storage.h"

#include <cstdlib>

#include "base/coding.h"
#include "items/item_report.h"
#include "runtime/reports.h"

namespace {

constexpr uint8_t kMagic[3] = {'K', 'v', 'b'};
// Returned by GetContents for a stream without bytes: a valid pointer, never null.
constexpr uint8_t kNoBytes[1] = {0};

}  // namespace

CStorage::CStorage() {
    className_ = "CStorage";
}

CStorage::~CStorage() {
    std::free(buffer_);
}

bool CStorage::OpenForWriting() {
    if (reading_ || writing_) {
        ReportError("failed to open storage for writing");
        return false;
    }
    cursor_ = 0;
    std::memset(header_, 0, sizeof header_);
    std::memcpy(header_, kMagic, sizeof kMagic);
    EncodeFixed16(header_ + 4, kHeaderSize);
    EncodeFixed16(header_ + 6, kFormatVersion);
    EncodeFixed32(header_ + 8, kLibraryVersion);
    writing_ = true;
    if (WriteBytes(header_, kHeaderSize) == kHeaderSize) return true;
    writing_ = false;
    UpdateWriteLimit();
    ReportError("failed to open storage for writing");
    return false;
}

bool CStorage::OpenForAppending() {
    if (reading_ || writing_) {
        ReportError("failed to open storage for writing");
        return false;
    }
    cursor_ = 0;
    writing_ = true;
    UpdateWriteLimit();
    return true;
}

bool CStorage::OpenForReading(bool rewind) {
    return OpenView(buffer_, rewind);
}

bool CStorage::OpenView(const uint8_t* view, bool rewind) {
    if (reading_ || writing_) {
        ReportError("failed to open storage for reading");
        return false;
    }
    cursor_ = 0;
    reading_ = true;
    view_ = view;
    std::memset(header_, 0, sizeof header_);
    const bool whole = ReadBytes(header_, kHeaderSize) == kHeaderSize;
    const uint16_t version = DecodeFixed16(header_ + 6);
    reading_ = whole && std::memcmp(header_, kMagic, sizeof kMagic) == 0 && version == kFormatVersion;
    if (rewind) cursor_ = 0;
    if (!reading_) {
        view_ = nullptr;
        ReportError("failed to open storage for reading");
        return false;
    }
    return true;
}

bool CStorage::OpenForReading(const void* bytes, uint32_t length) {
    if (length_ != 0 || bytes == nullptr || length > kMaxLength) {
        ReportError("failed to open storage for reading");
        return false;
    }
    length_ = length;
    if (OpenView(static_cast<const uint8_t*>(bytes), false)) return true;
    length_ = 0;
    return false;
}

uint8_t* CStorage::TakeContents(uint32_t* length) {
    Close();
    *length = length_;
    uint8_t* contents = length_ != 0 ? buffer_ : nullptr;
    if (contents == nullptr) std::free(buffer_);
    buffer_ = nullptr;
    capacity_ = 0;
    length_ = 0;
    UpdateWriteLimit();
    return contents;
}

void CStorage::Close() {
    if (buffer_ == nullptr) length_ = 0;
    reading_ = false;
    writing_ = false;
    cursor_ = 0;
    view_ = nullptr;
    UpdateWriteLimit();
}

void CStorage::UpdateWriteLimit() {
    const uint32_t room = capacity_ - 1 < kMaxLength ? capacity_ - 1 : kMaxLength;
    writeLimit_ = writing_ && !failed_ && length_ != 0 ? room : 0;
}

uint16_t CStorage::WriteBytesSlow(const void* bytes, uint16_t count) {
    if (bytes == nullptr || count == 0) return 0;
    if (!writing_) {
        ReportItemError("failed to write %u byte(s) to storage (not open)", count);
        return 0;
    }
    return Append(bytes, count) ? count : 0;
}

uint16_t CStorage::WriteText(const char* text) {
    if (text == nullptr) return 0;
    const size_t length = std::strlen(text);
    if (length > kMaxLength) {
        RefuseOversize(length);
        return 0;
    }
    return WriteBytes(text, static_cast<uint16_t>(length));
}

void CStorage::RefuseOversize(uint64_t count) {
    if (failed_) return;
    failed_ = true;
    UpdateWriteLimit();
    ReportItemError("storage full: cannot hold %llu more byte(s)", static_cast<unsigned long long>(count));
}

// Growth: the first append reserves the larger of the step and the bytes; an append that does
// not fit reserves the step on top of what it needs and doubles the step. Once an append has
// failed, a stream takes no more bytes, so what it holds is never a store with a hole in it.
bool CStorage::Append(const void* bytes, uint32_t count) {
    if (failed_ || length_ + count > kMaxLength) {
        RefuseOversize(count);
        return false;
    }
    if (length_ == 0) {
        if (!Reserve(growthStep_ > count ? growthStep_ : count)) return false;
    } else if (length_ + 1 + count > capacity_) {
        if (!Reserve(growthStep_ + length_ + 1 + count)) return false;
        growthStep_ *= 2;
    }
    if (!Reserve(length_ + 1 + count)) return false;
    std::memcpy(buffer_ + length_, bytes, count);
    length_ += count;
    buffer_[length_] = 0;
    UpdateWriteLimit();
    return true;
}

// The new capacity is the request with its four low bits set, unless a third of that is less
// than half the old capacity; then the old capacity grows by half instead.
bool CStorage::Reserve(uint32_t required) {
    if (required <= capacity_) return true;
    uint32_t grown = required | 15u;
    if (grown / 3 < capacity_ / 2) grown = capacity_ + capacity_ / 2;
    auto* fresh = static_cast<uint8_t*>(std::malloc(grown));
    if (fresh == nullptr) {
        failed_ = true;
        UpdateWriteLimit();
        ReportItemError("failed to allocate %u byte(s) of storage", grown);
        return false;
    }
    if (buffer_ != nullptr) std::memcpy(fresh, buffer_, length_ + 1);
    std::free(buffer_);
    buffer_ = fresh;
    capacity_ = grown;
    return true;
}

uint16_t CStorage::ReadBytesSlow(void* destination, uint16_t count) {
    if (destination == nullptr || count == 0) return 0;
    if (!reading_) {
        ReportItemError("failed to read %u byte(s) from storage (not open)", count);
        return 0;
    }
    const uint32_t available = length_ > cursor_ ? length_ - cursor_ : 0;
    const uint32_t copied = available < count ? available : count;
    if (copied != 0) std::memcpy(destination, view_ + cursor_, copied);
    cursor_ += copied;
    if (copied < count) ReportItemError("failed to read %u byte(s) from storage (read %u)", count, copied);
    return static_cast<uint16_t>(copied);
}

const uint8_t* CStorage::PeekRemaining(uint16_t* count) {
    *count = 0;
    if (!reading_) {
        ReportError("failed to read storage (not open)");
        return nullptr;
    }
    if (view_ == nullptr || length_ == 0 || cursor_ >= length_) return nullptr;
    *count = static_cast<uint16_t>(length_ - cursor_);
    return view_ + cursor_;
}

const uint8_t* CStorage::GetContents(uint16_t* count) {
    *count = 0;
    if (!reading_) {
        ReportError("failed to read storage (not open)");
        return nullptr;
    }
    *count = static_cast<uint16_t>(length_);
    return view_ == nullptr || length_ == 0 ? kNoBytes : view_;
}
