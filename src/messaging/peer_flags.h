// Flags of a link between this process's sink and another process's sink.
#pragma once

#include <cstdint>

namespace peer {
constexpr uint32_t kFailed = 1;  // the last test through the link failed
constexpr uint32_t kLocal = 2;   // this process holds an outgoing source to the peer
constexpr uint32_t kRemote = 4;  // the peer announced itself with a connection notice

// "Remote|Local|Failed" and its subsets, in that order; empty for none.
const char* FlagsText(uint32_t flags);
}  // namespace peer
