// Test support: the hand-shake for "that thread is waiting now", where the waiting thread cannot
// say so from inside its wait: the kernel shows the system call a thread is blocked in.
#pragma once

#include <sys/syscall.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <string>

#include "support/eventually.h"

// Waits until the thread has said who it is (a non-zero `tid`) and is blocked in system call
// `number`, with `firstArgument` as its first argument when one is given; false when it was not
// within timeoutMs.
inline bool WaitsIn(const std::atomic<pid_t>& tid, long number, const void* firstArgument = nullptr,
                    unsigned timeoutMs = 5000) {
    return Eventually([&] {
        std::ifstream file("/proc/self/task/" + std::to_string(tid.load()) + "/syscall");
        long seen = -1;
        std::string first;
        if (tid.load() == 0 || !(file >> seen >> first) || seen != number) return false;
        return firstArgument == nullptr || std::stoull(first, nullptr, 16) == reinterpret_cast<uintptr_t>(firstArgument);
    }, timeoutMs);
}
