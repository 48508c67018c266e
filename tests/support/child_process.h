// Test support: a program run as a child process, its standard output read line by line and,
// when asked for, its standard input written to. Killed (SIGKILL) and reaped at the latest on
// destruction.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/eventually.h"
#include "support/line_reader.h"

class CChildProcess {
public:
    // The pipes close on exec: a child keeps only the ends it got as its standard input and
    // output, so no other child holds a pipe open.
    CChildProcess(const char* program, const std::vector<std::string>& args, bool withInput = false) {
        int out[2] = {-1, -1}, in[2] = {-1, -1};
        if (pipe2(out, O_CLOEXEC) != 0 || (withInput && pipe2(in, O_CLOEXEC) != 0)) return;
        std::vector<char*> argv{const_cast<char*>(program)};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        if (withInput) posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        if (posix_spawn(&pid_, program, &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
        for (const int end : {out[1], in[0]}) {
            if (end >= 0) close(end);
        }
        output_ = CLineReader(out[0]);
        input_ = in[1];
    }
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;
    ~CChildProcess() {
        Kill();
        for (const int end : {input_, output_.Fd()}) {
            if (end >= 0) close(end);
        }
    }
    pid_t Pid() const { return pid_; }
    CLineReader& Output() const { return output_; }
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
    // Waits up to timeoutMs for the child to end by itself: its exit status, or -1 when it did
    // not or ended by a signal.
    int Wait(unsigned timeoutMs = 5000) {
        int status = 0;
        if (pid_ == 0 || !Eventually([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeoutMs)) return -1;
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = 0;
    int input_ = -1;
    mutable CLineReader output_{-1};  // reading changes no state of the child
};
