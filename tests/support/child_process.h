// Test support: a helper program run as a child process by the multi-process tests.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <vector>

#include "support/eventually.h"
#include "support/line_reader.h"

// The program run with the given arguments, its standard output read line by line through Next()
// and Await() and, when asked for, its standard input a pipe that Tell() writes to; killed and
// reaped at the latest on destruction.
class CChildProcess {
public:
    CChildProcess(const char* program, const std::vector<std::string>& args, bool input = false) {
        // The pipes close on exec: a child keeps only the ends it got as its standard input and
        // output, so no other child holds a pipe open.
        int in[2] = {-1, -1}, out[2] = {-1, -1};
        std::vector<char*> argv{const_cast<char*>(program)};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if ((!input || pipe2(in, O_CLOEXEC) == 0) && pipe2(out, O_CLOEXEC) == 0) {
            if (input) posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
            posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
            if (posix_spawn(&pid_, program, &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
        }
        posix_spawn_file_actions_destroy(&actions);
        for (const int end : {in[0], out[1]}) {
            if (end >= 0) close(end);
        }
        input_ = in[1];
        lines_ = CLineReader(out[0]);
    }
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;
    ~CChildProcess() {
        Kill();
        for (const int end : {input_, lines_.Fd()}) {
            if (end >= 0) close(end);
        }
    }
    pid_t Pid() const { return pid_; }
    std::string Next(long timeoutMs = 5000) { return lines_.Next(timeoutMs); }
    std::string Await(const std::string& word, long timeoutMs) { return lines_.Await(word, timeoutMs); }
    void Tell(const std::string& line) {
        const std::string text = line + "\n";
        [[maybe_unused]] const ssize_t written = write(input_, text.data(), text.size());
    }
    void Signal(int signal) {
        if (pid_ != 0) kill(pid_, signal);
    }
    void Kill() {
        if (pid_ == 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }
    // Waits up to timeoutMs for the child to end by itself: its exit status, or -1 (also when a
    // signal ended it).
    int Wait(unsigned timeoutMs = 5000) {
        int status = 0;
        if (pid_ == 0 || !Eventually([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeoutMs)) return -1;
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = 0;
    int input_ = -1;
    CLineReader lines_{-1};
};
