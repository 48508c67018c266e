#include "platform/rpc/frame.h"

#include <cstring>

namespace {

uint16_t Read16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

void Write16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void Write32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

EFrameParse FrameParse(const uint8_t* bytes, size_t available, CFrameView* frame) {
    if (available < 4) return EFrameParse::Incomplete;
    const uint32_t size = Read32(bytes);
    if (size < kFrameHeaderSize || size > kFrameMaxSize) return EFrameParse::Malformed;
    if (available < kFrameHeaderSize) return EFrameParse::Incomplete;

    const uint16_t serviceLength = Read16(bytes + 14);
    const uint16_t dataLength = Read16(bytes + 16);
    const uint8_t dataPresent = bytes[18];
    if (Read32(bytes + 4) != kFrameMagic || dataPresent > 1 || bytes[19] != 0) return EFrameParse::Malformed;
    if (!dataPresent && dataLength != 0) return EFrameParse::Malformed;
    if (kFrameHeaderSize + serviceLength + dataLength != size) return EFrameParse::Malformed;
    if (available < size) return EFrameParse::Incomplete;

    const char* service = reinterpret_cast<const char*>(bytes + kFrameHeaderSize);
    if (std::memchr(service, 0, serviceLength) != nullptr) return EFrameParse::Malformed;

    frame->size = size;
    frame->flags = Read32(bytes + 8);
    frame->kind = Read16(bytes + 12);
    frame->service = std::string_view(service, serviceLength);
    frame->data = dataPresent ? bytes + kFrameHeaderSize + serviceLength : nullptr;
    frame->length = dataLength;
    return EFrameParse::Complete;
}

void FrameEncodeHeader(uint8_t* header, uint32_t flags, uint16_t kind, uint16_t serviceLength, bool dataPresent,
                       uint16_t dataLength) {
    Write32(header, static_cast<uint32_t>(kFrameHeaderSize + serviceLength + dataLength));
    Write32(header + 4, kFrameMagic);
    Write32(header + 8, flags);
    Write16(header + 12, kind);
    Write16(header + 14, serviceLength);
    Write16(header + 16, dataLength);
    header[18] = dataPresent ? 1 : 0;
    header[19] = 0;
}
