// Test support for messaging: a library with a uniquely named sink, and waits for what arrives.
#pragma once

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

// A proxy for a service of the named sink and the source it goes through, both closed at the end
// of its scope.
struct ProxyTo {
    explicit ProxyTo(const std::string& sink, const char* service = "")
        : source(MbSourceOpen(sink.c_str())), proxy(MbServiceOpen(source, service)) {}
    operator MbService() const { return proxy; }
    OpenSource source;
    OpenProxy proxy;
};

// Calls `procedure` (a String) without an argument: the call's result.
inline int CallText(MbService proxy, const char* procedure) {
    return MbServiceCall(proxy, 0, Held(MbAtomNewString(procedure)), nullptr);
}

// A unique sink name for this process: prefix + pid, at most 31 characters.
std::string UniqueName(const char* prefix);

// Takes the next message on `service` within timeoutMs: the receive code (9 on time-out).
MbResult TakeWithin(MbSinkService service, MbEvent event, MbItem* message, unsigned timeoutMs = 5000);
// The text of the message taken so, expecting `code`.
std::string NextText(MbSinkService service, MbEvent event, MbResult code = MbReceivedCall, unsigned timeoutMs = 5000);

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
