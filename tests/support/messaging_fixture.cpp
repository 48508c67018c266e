#include "support/messaging_fixture.h"

#include <unistd.h>

std::string UniqueName(const char* prefix) {
    return std::string(prefix) + std::to_string(getpid());
}

MbResult TakeWithin(MbSinkService service, MbEvent event, MbItem* message, unsigned timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const MbResult code = MbSinkServiceTake(service, message);
        if (code != MbNothingReceived) return code;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return MbNothingReceived;
        WaitForSingleObject(event, static_cast<DWORD>(left.count()));
    }
}

std::string NextText(MbSinkService service, MbEvent event, MbResult code, unsigned timeoutMs) {
    Held message;
    EXPECT_EQ(TakeWithin(service, event, message.Out(), timeoutMs), code);
    return TextOf(message);
}

void SinkTest::SetUp() {
    LibraryTest::SetUp();
    name_ = UniqueName("mt");
    event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    sink_ = MbSinkOpen(name_.c_str(), event_);
    ASSERT_NE(sink_, nullptr);
}

void SinkTest::TearDown() {
    if (sink_ != nullptr) {
        EXPECT_EQ(MbSinkClose(sink_), 1);
    }
    LibraryTest::TearDown();
    CloseHandle(event_);
}

bool SinkTest::TraceArrives(const std::string& needle, unsigned timeoutMs) {
    return Eventually([&] { return trace_capture::CountContaining(needle) > 0; }, timeoutMs);
}
