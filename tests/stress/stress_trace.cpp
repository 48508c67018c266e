#include "stress/stress_trace.h"

#include <mbus/mbus.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "stress/stress_common.h"

namespace stress {

namespace {

constexpr long kEchoedLines = 3;

std::atomic<long> lines{0};
const char* roleName = "";
std::mutex traceLock;
bool lineStart = true;  // the next piece echoed begins a line
bool sampling = false;  // a sample line is being collected
std::string sample;

// The callback gets pieces of text, not lines: lines are counted by their newlines.
void CountTrace(const char* text, uint32_t) {
    const size_t length = std::strlen(text);
    const long newlines = static_cast<long>(std::count(text, text + length, '\n'));
    const long before = lines.fetch_add(newlines);
    const std::lock_guard<std::mutex> hold(traceLock);
    if (before < kEchoedLines) {
        std::fprintf(stderr, "%s%s%s", lineStart ? roleName : "", lineStart ? " traced: " : "", text);
        lineStart = length > 0 && text[length - 1] == '\n';
    }
    if (!sampling) return;
    sample += text;
    const size_t end = sample.find('\n');
    if (end == std::string::npos) return;
    sample.resize(end);
    sampling = false;
}

}  // namespace

bool StartLibrary(const char* role, bool traced) {
    roleName = role;
    if (MbLibraryInit() != 1) return false;
    if (traced) MbTracerSet(&CountTrace);
    return true;
}

std::string EndLibrary() {
    const Clock::time_point start = Clock::now();
    MbLibraryTerm();
    const long termMs = MillisSince(start);
    return " term_ms=" + std::to_string(termMs) + " traces=" + std::to_string(lines.load()) +
           " hwm_kb=" + std::to_string(StatusKb(0, "VmHWM"));
}

long TraceLines() {
    return lines.load();
}

void TraceSampleStart() {
    const std::lock_guard<std::mutex> hold(traceLock);
    sample.clear();
    sampling = true;
}

std::string TraceSample() {
    const std::lock_guard<std::mutex> hold(traceLock);
    return sampling ? std::string() : sample;
}

}  // namespace stress
