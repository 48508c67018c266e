// Test support: the lines a child process writes to its standard output, each awaited for a
// bounded time.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

class CLineReader {
public:
    explicit CLineReader(FILE* output) : fd_(fileno(output)) {}
    // The next line without its newline; "<time-out>" or "<end>" when none came.
    std::string Next(unsigned timeoutMs = 5000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (size_t end; (end = pending_.find('\n')) == std::string::npos;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd wait = {fd_, POLLIN, 0};
            if (left.count() <= 0 || poll(&wait, 1, static_cast<int>(left.count())) <= 0) return "<time-out>";
            char buffer[512];
            const ssize_t got = read(fd_, buffer, sizeof buffer);
            if (got <= 0) return "<end>";
            pending_.append(buffer, static_cast<size_t>(got));
        }
        const size_t end = pending_.find('\n');
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return line;
    }

private:
    int fd_;
    std::string pending_;
};
