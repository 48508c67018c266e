#include "platform/rpc/frame.h"

#include <cstring>

#include "base/coding.h"

EFrameParse FrameParse(const uint8_t* bytes, size_t available, CFrameView* frame) {
    if (available < 4) return EFrameParse::Incomplete;
    const uint32_t size = DecodeFixed32(bytes);
    if (size < kFrameHeaderSize || size > kFrameMaxSize) return EFrameParse::Malformed;
    if (available < kFrameHeaderSize) return EFrameParse::Incomplete;

    const uint16_t serviceLength = DecodeFixed16(bytes + 14);
    const uint16_t dataLength = DecodeFixed16(bytes + 16);
    const uint8_t dataPresent = bytes[18];
    if (DecodeFixed32(bytes + 4) != kFrameMagic || dataPresent > 1 || bytes[19] != 0) return EFrameParse::Malformed;
    if (!dataPresent && dataLength != 0) return EFrameParse::Malformed;
    if (kFrameHeaderSize + serviceLength + dataLength != size) return EFrameParse::Malformed;
    if (available < size) return EFrameParse::Incomplete;

    const char* service = reinterpret_cast<const char*>(bytes + kFrameHeaderSize);
    if (std::memchr(service, 0, serviceLength) != nullptr) return EFrameParse::Malformed;

    frame->size = size;
    frame->flags = DecodeFixed32(bytes + 8);
    frame->kind = DecodeFixed16(bytes + 12);
    frame->service = std::string_view(service, serviceLength);
    frame->data = dataPresent ? bytes + kFrameHeaderSize + serviceLength : nullptr;
    frame->length = dataLength;
    return EFrameParse::Complete;
}

void FrameEncodeHeader(uint8_t* header, uint32_t flags, uint16_t kind, uint16_t serviceLength, bool dataPresent,
                       uint16_t dataLength) {
    EncodeFixed32(header, static_cast<uint32_t>(kFrameHeaderSize + serviceLength + dataLength));
    EncodeFixed32(header + 4, kFrameMagic);
    EncodeFixed32(header + 8, flags);
    EncodeFixed16(header + 12, kind);
    EncodeFixed16(header + 14, serviceLength);
    EncodeFixed16(header + 16, dataLength);
    header[18] = dataPresent ? 1 : 0;
    header[19] = 0;
}
