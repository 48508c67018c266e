#include "support/trace_capture.h"

#include <mutex>

#include <mbus/mbus.h>

namespace {
std::mutex mutex;
std::vector<TraceRecord> records;
}  // namespace

namespace trace_capture {

void Callback(const char* text, uint32_t category) {
    std::lock_guard<std::mutex> hold(mutex);
    records.push_back({text, category});
}

std::vector<TraceRecord> Records() {
    std::lock_guard<std::mutex> hold(mutex);
    return records;
}

void Clear() {
    std::lock_guard<std::mutex> hold(mutex);
    records.clear();
}

size_t CountContaining(const std::string& needle) {
    std::lock_guard<std::mutex> hold(mutex);
    size_t count = 0;
    for (const TraceRecord& record : records) count += record.text.find(needle) != std::string::npos;
    return count;
}

}  // namespace trace_capture

void LibraryTest::SetUp() {
    ASSERT_EQ(MbLibraryInit(), 1);
    trace_capture::Clear();
    MbTracerSet(&trace_capture::Callback);
}

void LibraryTest::TearDown() {
    MbTracerSet(nullptr);
    MbLibraryTerm();
    trace_capture::Clear();
}
