// Feeds arbitrary bytes to the frame parser the way the dispatcher does: frame after frame
// until one is incomplete or malformed. Every accepted frame must lie inside the input, agree
// with its own lengths and re-encode to the same header.
#include "platform/rpc/frame.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t offset = 0;
    for (;;) {
        CFrameView frame;
        const EFrameParse result = FrameParse(data + offset, size - offset, &frame);
        if (result != EFrameParse::Complete) break;
        if (frame.size > size - offset || frame.size != kFrameHeaderSize + frame.service.size() + frame.length) {
            __builtin_trap();
        }
        if (frame.service.data() != reinterpret_cast<const char*>(data + offset + kFrameHeaderSize) ||
            std::memchr(frame.service.data(), 0, frame.service.size()) != nullptr) {
            __builtin_trap();
        }
        if (frame.data != nullptr && frame.data + frame.length != data + offset + frame.size) __builtin_trap();
        if (frame.data == nullptr && frame.length != 0) __builtin_trap();
        uint8_t header[kFrameHeaderSize];
        FrameEncodeHeader(header, frame.flags, frame.kind, static_cast<uint16_t>(frame.service.size()),
                          frame.data != nullptr, frame.length);
        if (std::memcmp(header, data + offset, kFrameHeaderSize) != 0) __builtin_trap();
        offset += frame.size;
    }
    return 0;
}
