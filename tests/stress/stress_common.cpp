// What every process of the program shares: clocks, report fields, /proc figures, output lines,
// and the library with its trace counter.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "stress/stress.h"

namespace stress {

long long Field(const std::string& line, const std::string& key) {
    for (size_t at = line.find(key + "="); at != std::string::npos; at = line.find(key + "=", at + 1)) {
        if (at == 0 || line[at - 1] == ' ') return std::strtoll(line.c_str() + at + key.size() + 1, nullptr, 10);
    }
    return -1;
}

long StatusKb(pid_t pid, const char* key) {
    std::ifstream status("/proc/" + (pid == 0 ? "self" : std::to_string(pid)) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key + std::string(":"), 0) == 0) return std::atol(line.c_str() + std::strlen(key) + 1);
    }
    return -1;
}

int OpenDescriptors(pid_t pid) {
    std::error_code error;
    int count = 0;
    for (std::filesystem::directory_iterator entry("/proc/" + std::to_string(pid) + "/fd", error), end;
         !error && entry != end; entry.increment(error)) {
        ++count;
    }
    return error ? -1 : count;
}

std::string Format(const char* format, ...) {
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

void Say(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::putchar('\n');
    std::fflush(stdout);
}

void Pause(long ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

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
    return Format(" term_us=%ld traces=%ld hwm_kb=%ld", Since<Micros>(start), lines.load(), StatusKb(0, "VmHWM"));
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
