// Test support for messaging: a library with a uniquely named sink, and waits for what arrives.
#pragma once

#include <mbus/mbus.h>
#include <mbus/win32.h>

#include <string>

#include "support/eventually.h"
#include "support/item_handles.h"

// Closes a messaging object (a source, a service proxy, a sink service) at the end of its scope.
template <auto Close>
struct Opened {
    explicit Opened(MbHandle opened) : handle(opened) {}
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;
    ~Opened() {
        if (handle != nullptr) Close(handle);
    }
    operator MbHandle() const { return handle; }
    MbHandle handle;
};
using OpenSource = Opened<&MbSourceClose>;
using OpenProxy = Opened<&MbServiceClose>;
using OpenService = Opened<&MbSinkServiceClose>;

// A unique sink name for this process: prefix + pid, at most 31 characters.
std::string UniqueName(const char* prefix);

// Takes the next message on `service` within timeoutMs: the receive code (9 on time-out).
MbResult TakeWithin(MbSinkService service, MbEvent event, MbItem* message, unsigned timeoutMs = 5000);

// Library + one registered sink ("_default" service) with an auto-reset event.
class SinkTest : public LibraryTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Waits until a trace line containing `needle` arrived.
    bool TraceArrives(const std::string& needle, unsigned timeoutMs = 5000);

    std::string name_;
    MbEvent event_ = nullptr;
    MbSink sink_ = nullptr;
};
