// Test support: a bounded wait for a condition that another thread or process brings about.
#pragma once

#include <chrono>
#include <thread>

// Waits until predicate holds, polling every 2 ms; false on time-out.
template <class Predicate>
bool Eventually(Predicate predicate, unsigned timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
