#include <mbus/mbus.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "stress/stress.h"

namespace stress {

namespace {

constexpr long kEchoedLines = 3;

std::atomic<long> lines{0};
const char* roleName = "";
std::mutex traceLock;
bool lineStart = true;  // the next piece echoed begins a line
std::string first;      // the first trace line; whole once it holds a newline

// The callback gets pieces of text, not lines: lines are counted by their newlines.
void CountTrace(const char* text, uint32_t) {
    const size_t length = std::strlen(text);
    const long before = lines.fetch_add(static_cast<long>(std::count(text, text + length, '\n')));
    if (before >= kEchoedLines) return;
    const std::lock_guard<std::mutex> hold(traceLock);
    std::fprintf(stderr, "%s%s%s", lineStart ? roleName : "", lineStart ? " traced: " : "", text);
    lineStart = length > 0 && text[length - 1] == '\n';
    if (before == 0) first += text;
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
    return " term_us=" + std::to_string(MicrosSince(start)) + " traces=" + std::to_string(lines.load()) +
           " hwm_kb=" + std::to_string(StatusKb(0, "VmHWM"));
}

long TraceLines() {
    return lines.load();
}

std::string FirstTrace() {
    const std::lock_guard<std::mutex> hold(traceLock);
    const size_t end = first.find('\n');
    return end == std::string::npos ? std::string() : first.substr(0, end);
}

}  // namespace stress
