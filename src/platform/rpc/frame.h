// The byte form of one call on a connection, and its checked parser. Pure functions, no I/O.
//
// Frame, little-endian:
//   0  u32 frame length (this header + service + data)
//   4  u32 magic
//   8  u32 flags
//  12  u16 kind
//  14  u16 service length (no NUL)
//  16  u16 data length
//  18  u8  data present (0 or 1; 0 requires data length 0)
//  19  u8  reserved (0)
//  20  service bytes (no NUL among them), then data bytes
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

constexpr uint32_t kFrameMagic = 0x3153424Du;  // "MBS1" in memory
constexpr size_t kFrameHeaderSize = 20;
constexpr uint32_t kFrameMaxSize = kFrameHeaderSize + 0xFFFFu + 0xFFFFu;

struct CFrameView {
    uint32_t size;  // whole frame in bytes
    uint32_t flags;
    uint16_t kind;
    std::string_view service;  // points into the parsed bytes
    const uint8_t* data;       // into the parsed bytes; null when the frame carries no data
    uint16_t length;
};

enum class EFrameParse { Complete, Incomplete, Malformed };

// Parses the frame at the start of bytes[0..available). Complete fills *frame; Incomplete means
// that the bytes so far are a valid beginning; Malformed means no continuation can be valid.
// The frame length is checked against its bounds before anything else is read, and every field
// against the frame length before the body is looked at.
EFrameParse FrameParse(const uint8_t* bytes, size_t available, CFrameView* frame);

// Writes a frame header. The caller guarantees serviceLength and dataLength fit 16 bits and
// that dataLength is 0 when dataPresent is false.
void FrameEncodeHeader(uint8_t* header, uint32_t flags, uint16_t kind, uint16_t serviceLength, bool dataPresent,
                       uint16_t dataLength);
