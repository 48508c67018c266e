// The driver's handle on one process of a scenario: this program run again in a role, its
// standard input and output on pipes. Destroying the handle kills (SIGKILL) and reaps it.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>

#include "stress/stress.h"

namespace stress {

class CRole {
public:
    explicit CRole(Args args) {
        // The pipes close on exec: a child keeps only the ends it got as its standard input
        // and output, so no other child holds a pipe open.
        int in[2] = {-1, -1}, out[2] = {-1, -1};
        std::vector<char*> argv{const_cast<char*>("mbus_stress")};
        for (std::string& word : args) argv.push_back(word.data());
        argv.push_back(nullptr);
        if (pipe2(in, O_CLOEXEC) == 0 && pipe2(out, O_CLOEXEC) == 0 && (pid_ = fork()) == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            execv("/proc/self/exe", argv.data());
            _exit(127);
        }
        pid_ = std::max(pid_, 0);
        for (const int end : {in[0], out[1]}) {
            if (end >= 0) close(end);
        }
        input_ = in[1];
        output_ = CLineReader(out[0]);
    }
    ~CRole() {
        Signal(SIGKILL);
        Wait(kRoleDeadlineMs);
        for (const int end : {input_, output_.Fd()}) {
            if (end >= 0) close(end);
        }
    }
    CRole(const CRole&) = delete;
    CRole& operator=(const CRole&) = delete;

    pid_t Pid() const { return pid_; }
    void Tell(const std::string& line) {
        const std::string text = line + "\n";
        [[maybe_unused]] const ssize_t written = write(input_, text.data(), text.size());
    }
    // The first line of its output that starts with `word` (earlier lines are dropped), waiting
    // at most timeoutMs; "" when none came.
    std::string Await(const std::string& word, long timeoutMs) {
        const Clock::time_point start = Clock::now();
        while (const std::optional<std::string> line = output_.Next(timeoutMs - MillisSince(start))) {
            if (line->compare(0, word.size(), word) == 0) return *line;
        }
        return "";
    }
    void Signal(int signal) {
        if (pid_ != 0) kill(pid_, signal);
    }
    // Its exit status once it ended within timeoutMs; -1 when it did not, or ended by a signal.
    int Wait(long timeoutMs) {
        int status = 0;
        for (const Clock::time_point start = Clock::now(); pid_ != 0 && MillisSince(start) <= timeoutMs;) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = 0;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return -1;
    }

private:
    pid_t pid_ = 0;
    int input_ = -1;
    CLineReader output_{-1};
};

}  // namespace stress
