// The driver's handle on one process of a scenario: this program run again in a role, with
// its standard input and output on pipes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "stress/stress_common.h"

namespace stress {

class CRole {
public:
    // Starts this program with the given arguments (the role and its parameters).
    explicit CRole(const std::vector<std::string>& args);
    // Kills the process (SIGKILL) and reaps it when it still runs.
    ~CRole();
    CRole(const CRole&) = delete;
    CRole& operator=(const CRole&) = delete;

    pid_t Pid() const { return pid_; }
    // Writes one line to its standard input.
    void Tell(const std::string& line);
    // The first line of its output that starts with `word` (lines before it are dropped),
    // waiting at most timeoutMs; "" when none came.
    std::string Await(const std::string& word, int timeoutMs);
    void Signal(int signal);
    // Its exit status once it ended within timeoutMs; -1 when it did not end, or ended by a
    // signal.
    int Wait(int timeoutMs);

private:
    pid_t pid_ = 0;
    int input_ = -1;
    CLineReader output_;
};

}  // namespace stress
