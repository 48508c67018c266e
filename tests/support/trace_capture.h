// Test support: records every message the library hands to the trace callback.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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
// The callback to install with MbTracerSet.
void Callback(const char* text, uint32_t category);
std::vector<TraceRecord> Records();
void Clear();
// Number of records whose text contains `needle`.
size_t CountContaining(const std::string& needle);
}  // namespace trace_capture

// Initialises the library with the capturing callback for one test and terminates it after.
class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};
