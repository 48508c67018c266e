// mbus_stress: flow, failure and hostile-input scenarios between real processes, through the
// shared library's public interface only. The driver (stress_scenarios.cpp) runs this program
// again in roles; a role prints "ready", takes commands on its standard input and prints
// "report" and " key=value" figures. What every process shares: clocks, report fields, /proc
// figures, output lines, and the library with its trace counter.
#pragma once

#include <mbus/mbus.h>
#include <sys/types.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "support/line_reader.h"

namespace stress {

using Clock = std::chrono::steady_clock;
using Micros = std::chrono::microseconds;
using Args = std::vector<std::string>;

inline constexpr char kService[] = "stress";     // the service every numbered call goes to
inline constexpr long kRoleDeadlineMs = 120000;  // no role runs longer, whatever it is told

// The time since start, in milliseconds or the unit given.
template <class Unit = std::chrono::milliseconds>
long Since(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<Unit>(Clock::now() - start).count());
}

// The number after " key=" (or "key=" at the start) in a report line; -1 when absent.
inline long long Field(const std::string& line, const std::string& key) {
    for (size_t at = line.find(key + "="); at != std::string::npos; at = line.find(key + "=", at + 1)) {
        if (at == 0 || line[at - 1] == ' ') return std::strtoll(line.c_str() + at + key.size() + 1, nullptr, 10);
    }
    return -1;
}

// A kB figure of /proc/PID/status ("VmRSS", "VmHWM"); pid 0 is this process; -1 when unreadable.
inline long StatusKb(pid_t pid, const char* key) {
    std::ifstream status("/proc/" + (pid == 0 ? "self" : std::to_string(pid)) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key + std::string(":"), 0) == 0) return std::atol(line.c_str() + std::strlen(key) + 1);
    }
    return -1;
}

// The number of open descriptors of a process; -1 when unreadable.
inline int OpenDescriptors(pid_t pid) {
    std::error_code error;
    int count = 0;
    for (std::filesystem::directory_iterator entry("/proc/" + std::to_string(pid) + "/fd", error), end;
         !error && entry != end; entry.increment(error)) {
        ++count;
    }
    return error ? -1 : count;
}

// printf into a string of at most 1023 characters.
__attribute__((format(printf, 1, 2))) inline std::string Format(const char* format, ...) {
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

// Writes one line to standard output at once.
__attribute__((format(printf, 1, 2))) inline void Say(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::putchar('\n');
    std::fflush(stdout);
}

inline void Pause(long ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The library in a role process. When traced, a callback counts the trace lines, echoes the
// first few to standard error and keeps the first; without a callback the library formats none.
namespace trace {

inline constexpr long kEchoedLines = 3;
inline std::atomic<long> lines{0};
inline const char* roleName = "";
inline std::mutex lock;
inline bool lineStart = true;  // the next piece echoed begins a line
inline std::string first;      // the first trace line; whole once it holds a newline

// The callback gets pieces of text, not lines: lines are counted by their newlines.
inline void Count(const char* text, uint32_t) {
    const size_t length = std::strlen(text);
    const long before = lines.fetch_add(static_cast<long>(std::count(text, text + length, '\n')));
    if (before >= kEchoedLines) return;
    const std::lock_guard<std::mutex> hold(lock);
    std::fprintf(stderr, "%s%s%s", lineStart ? roleName : "", lineStart ? " traced: " : "", text);
    lineStart = length > 0 && text[length - 1] == '\n';
    if (before == 0) first += text;
}

}  // namespace trace

inline bool StartLibrary(const char* role, bool traced) {
    trace::roleName = role;
    if (MbLibraryInit() != 1) return false;
    if (traced) MbTracerSet(&trace::Count);
    return true;
}

// Ends the library; the figures every role reports: " term_us=N traces=N hwm_kb=N".
inline std::string EndLibrary() {
    const Clock::time_point start = Clock::now();
    MbLibraryTerm();
    return Format(" term_us=%ld traces=%ld hwm_kb=%ld", Since<Micros>(start), trace::lines.load(),
                  StatusKb(0, "VmHWM"));
}

// The first trace line; "" until a whole line came.
inline std::string FirstTrace() {
    const std::lock_guard<std::mutex> hold(trace::lock);
    const size_t end = trace::first.find('\n');
    return end == std::string::npos ? std::string() : trace::first.substr(0, end);
}

int Receiver(const Args& args);
int Sender(const Args& args);
int Hostile(const Args& args);

}  // namespace stress
