// Test support: a helper program run as a child process by the multi-process tests.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/eventually.h"

// The program run with the given arguments, its standard output readable through Output();
// killed and reaped at the latest on destruction.
class CChildProcess {
public:
    CChildProcess(const char* program, const std::vector<std::string>& args) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return;
        std::vector<char*> argv{const_cast<char*>(program)};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        if (posix_spawn(&pid_, program, &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        output_ = fdopen(out[0], "r");
    }
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;
    ~CChildProcess() {
        Kill();
        if (output_ != nullptr) std::fclose(output_);
    }
    pid_t Pid() const { return pid_; }
    FILE* Output() const { return output_; }
    void Kill() {
        if (pid_ == 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }
    // Waits up to timeoutMs for the child to end by itself: its exit status, or -1.
    int Wait(unsigned timeoutMs = 5000) {
        int status = 0;
        if (pid_ == 0 || !Eventually([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeoutMs)) return -1;
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = 0;
    FILE* output_ = nullptr;
};
