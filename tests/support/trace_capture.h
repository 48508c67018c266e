// Test support: records every message the library hands to the trace callback.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <mbus/mbus.h>

struct TraceRecord {
    std::string text;
    uint32_t category;
    bool operator==(const TraceRecord&) const = default;
};

inline void PrintTo(const TraceRecord& record, std::ostream* out) {
    *out << record.category << ":" << ::testing::PrintToString(record.text);
}

using TraceRecords = std::vector<TraceRecord>;

namespace trace_capture {

inline std::mutex mutex;
inline TraceRecords records;

inline void Callback(const char* text, uint32_t category) {
    std::lock_guard<std::mutex> hold(mutex);
    records.push_back({text, category});
}

inline TraceRecords Records() {
    std::lock_guard<std::mutex> hold(mutex);
    return records;
}

inline void Clear() {
    std::lock_guard<std::mutex> hold(mutex);
    records.clear();
}

inline size_t CountContaining(const std::string& needle) {
    std::lock_guard<std::mutex> hold(mutex);
    size_t count = 0;
    for (const TraceRecord& record : records) count += record.text.find(needle) != std::string::npos;
    return count;
}

}  // namespace trace_capture

// Initialises the library with the capturing callback for one test and terminates it after.
class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(MbLibraryInit(), 1);
        trace_capture::Clear();
        MbTracerSet(&trace_capture::Callback);
    }
    void TearDown() override {
        MbTracerSet(nullptr);
        MbLibraryTerm();
        trace_capture::Clear();
    }
};
