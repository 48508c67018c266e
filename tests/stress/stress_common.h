// What every process of the stress program shares: the clock, the line protocol between the
// driver and its roles, and what /proc tells about a process.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>

namespace stress {

using Clock = std::chrono::steady_clock;

// The service of the receiving sink that every numbered call goes to.
inline constexpr char kService[] = "stress";

double SecondsSince(Clock::time_point start);
long MillisSince(Clock::time_point start);

// The number after " key=" (or at the start of the line) in a report line; -1 when absent.
long long Field(const std::string& line, const std::string& key);

// A kB figure of /proc/PID/status ("VmRSS", "VmHWM"); pid 0 means this process. -1 when
// unreadable.
long StatusKb(pid_t pid, const char* key);
// The number of open descriptors of process pid; -1 when unreadable.
int OpenDescriptors(pid_t pid);

// Whole lines read from a descriptor, never waiting past the time asked for.
class CLineReader {
public:
    explicit CLineReader(int fd) : fd_(fd) {}
    int Fd() const { return fd_; }
    bool Closed() const { return closed_ && buffer_.find('\n') == std::string::npos; }
    // The next line without its newline, waiting at most timeoutMs; nothing on time-out or at
    // the end of the input.
    std::optional<std::string> Next(int timeoutMs);

private:
    int fd_;
    std::string buffer_;
    bool closed_ = false;
};

// Writes one line to standard output at once (the driver reads it through a pipe).
void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace stress
