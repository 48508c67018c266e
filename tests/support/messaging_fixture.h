// Test support for messaging: a library with a uniquely named sink, and waits for what arrives.
#pragma once

#include <unistd.h>

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
inline std::string UniqueName(const char* prefix) {
    return std::string(prefix) + std::to_string(getpid());
}

// Takes the next message on `service` within timeoutMs: the receive code (9 on time-out).
inline MbResult TakeWithin(MbSinkService service, MbEvent event, MbItem* message, unsigned timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const MbResult code = MbSinkServiceTake(service, message);
        if (code != MbNothingReceived) return code;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return MbNothingReceived;
        WaitForSingleObject(event, static_cast<DWORD>(left.count()));
    }
}

// The text of the message taken so, expecting `code`.
inline std::string NextText(MbSinkService service, MbEvent event, MbResult code = MbReceivedCall,
                            unsigned timeoutMs = 5000) {
    Held message;
    EXPECT_EQ(TakeWithin(service, event, message.Out(), timeoutMs), code);
    return TextOf(message);
}

// Library + one registered sink ("_default" service) with an auto-reset event.
class SinkTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        name_ = UniqueName("mt");
        event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        sink_ = MbSinkOpen(name_.c_str(), event_);
        ASSERT_NE(sink_, nullptr);
    }
    void TearDown() override {
        EXPECT_TRUE(sink_ == nullptr || MbSinkClose(sink_) == 1);
        LibraryTest::TearDown();
        CloseHandle(event_);
    }
    bool TraceArrives(const std::string& needle, unsigned timeoutMs = 5000) {
        return Eventually([&] { return trace_capture::CountContaining(needle) > 0; }, timeoutMs);
    }

    std::string name_;
    MbEvent event_ = nullptr;
    MbSink sink_ = nullptr;
};
