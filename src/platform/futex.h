// Sleeping on a 32-bit word until another thread of the process changes it and wakes it.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

// Sleeps while *word holds expected, at most milliseconds (INFINITE: no limit). Returns at once
// when the word holds another value, and early on a wake or a signal: callers check again.
void FutexWait(std::atomic<uint32_t>& word, uint32_t expected, DWORD milliseconds) noexcept;
// Wakes up to count threads sleeping on the word.
void FutexWake(std::atomic<uint32_t>& word, int count) noexcept;
