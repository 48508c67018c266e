// mbus_stress: flow, failure and hostile-input scenarios between real processes, through the
// shared library's public interface only. The driver (stress_scenarios.cpp) runs this program
// again in roles; a role prints "ready", takes commands on its standard input and prints
// "report" and " key=value" figures.
#pragma once

#include <mbus/mbus.h>
#include <sys/types.h>

#include <cstdlib>
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
long long Field(const std::string& line, const std::string& key);
// A kB figure of /proc/PID/status ("VmRSS", "VmHWM"); pid 0 is this process; -1 when unreadable.
long StatusKb(pid_t pid, const char* key);
// The number of open descriptors of a process; -1 when unreadable.
int OpenDescriptors(pid_t pid);
// printf into a string of at most 1023 characters.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Writes one line to standard output at once.
void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Pause(long ms);

// The library in a role process. When traced, a callback counts the trace lines, echoes the
// first few to standard error and keeps the first; without a callback the library formats none.
bool StartLibrary(const char* role, bool traced);
// Ends the library; the figures every role reports: " term_us=N traces=N hwm_kb=N".
std::string EndLibrary();
long TraceLines();
std::string FirstTrace();  // "" until a whole line came

int Receiver(const Args& args);
int Sender(const Args& args);
int Hostile(const Args& args);

}  // namespace stress
