// Test support: whole lines read from a descriptor (a child's standard output, a role's standard
// input), each awaited for a bounded time.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>

class CLineReader {
public:
    explicit CLineReader(int fd) : fd_(fd) {}
    int Fd() const { return fd_; }
    // The input ended and every whole line of it was read.
    bool Closed() const { return closed_ && pending_.find('\n') == std::string::npos; }
    // The next line without its newline; "<time-out>" or "<end>" when none came.
    std::string Next(long timeoutMs = 5000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (size_t end; (end = pending_.find('\n')) == std::string::npos;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd wait = {fd_, POLLIN, 0};
            if (closed_) return "<end>";
            if (poll(&wait, 1, static_cast<int>(std::max<long>(0, left.count()))) <= 0) return "<time-out>";
            char buffer[4096];
            const ssize_t got = read(fd_, buffer, sizeof buffer);
            if (got > 0) pending_.append(buffer, static_cast<size_t>(got));
            closed_ = got == 0 || (got < 0 && errno != EINTR);
        }
        const size_t end = pending_.find('\n');
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return line;
    }
    // The first line that starts with `word` (earlier lines are dropped) within timeoutMs; "" when
    // none came.
    std::string Await(const std::string& word, long timeoutMs) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            const std::string line = Next(std::max<long>(0, left.count()));
            if (line.compare(0, word.size(), word) == 0) return line;
            if (line == "<time-out>" || line == "<end>") return "";
        }
    }

private:
    int fd_;
    std::string pending_;
    bool closed_ = false;
};
