#include "stress/stress_role.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

extern char** environ;

namespace stress {

namespace {

std::string ThisProgram() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return std::string(path, length > 0 ? static_cast<size_t>(length) : 0);
}

}  // namespace

CRole::CRole(const std::vector<std::string>& args) : output_(-1) {
    // Both pipes close on exec: the child gets its ends through dup2 only, so no other child
    // inherits an end that would keep a pipe open.
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return;
    }
    std::vector<std::string> words{ThisProgram()};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    input_ = in[1];
    output_ = CLineReader(out[0]);
}

CRole::~CRole() {
    if (pid_ != 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (input_ >= 0) close(input_);
    if (output_.Fd() >= 0) close(output_.Fd());
}

void CRole::Tell(const std::string& line) {
    const std::string text = line + "\n";
    [[maybe_unused]] const ssize_t written = write(input_, text.data(), text.size());
}

std::string CRole::Await(const std::string& word, int timeoutMs) {
    const Clock::time_point start = Clock::now();
    for (long left = timeoutMs; left >= 0 && output_.Fd() >= 0; left = timeoutMs - MillisSince(start)) {
        const std::optional<std::string> line = output_.Next(static_cast<int>(left));
        if (!line) return "";
        if (line->compare(0, word.size(), word) == 0) return *line;
    }
    return "";
}

void CRole::Signal(int signal) {
    if (pid_ != 0) kill(pid_, signal);
}

int CRole::Wait(int timeoutMs) {
    const Clock::time_point start = Clock::now();
    int status = 0;
    while (pid_ != 0) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = 0;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (MillisSince(start) > timeoutMs) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
}

}  // namespace stress
