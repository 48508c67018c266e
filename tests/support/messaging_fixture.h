// Test support for messaging: an initialised library with a sink of a unique name, and helpers
// that wait for what arrives.
#pragma once

#include <mbus/mbus.h>
#include <mbus/win32.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/item_handles.h"

// A unique sink name for this process: prefix + pid, at most 31 characters.
std::string UniqueName(const char* prefix);

// Waits up to timeoutMs for a message on `service`, taking it. Returns the receive code
// (9 on time-out) and stores the message (caller releases) in *message.
MbResult TakeWithin(MbSinkService service, MbEvent event, MbItem* message, unsigned timeoutMs = 5000);

// Waits until `predicate` holds, polling; false on time-out.
template <class Predicate>
bool Eventually(Predicate predicate, unsigned timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Library + one registered sink ("_default" service) with an auto-reset event.
class SinkTest : public LibraryTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Waits until a trace line containing `needle` arrived.
    bool TraceArrives(const std::string& needle, unsigned timeoutMs = 5000);

    std::string name;
    MbEvent event = nullptr;
    MbSink sink = nullptr;
};
