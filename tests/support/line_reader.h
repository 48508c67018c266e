// Test support: whole lines read from a descriptor (a child's output, a role's standard input),
// never waiting past the time asked for.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <string>

class CLineReader {
public:
    explicit CLineReader(int fd) : fd_(fd) {}
    int Fd() const { return fd_; }
    // Whether the input ended and every whole line was read.
    bool Closed() const { return closed_ && buffer_.find('\n') == std::string::npos; }
    // The next line without its newline; nothing on time-out or at the end of the input.
    std::optional<std::string> Next(long timeoutMs = 5000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        size_t end;
        while ((end = buffer_.find('\n')) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd readable{fd_, POLLIN, 0};
            if (closed_ || poll(&readable, 1, static_cast<int>(std::max<long>(0, left.count()))) <= 0) return std::nullopt;
            char chunk[4096];
            const ssize_t got = read(fd_, chunk, sizeof chunk);
            if (got > 0) buffer_.append(chunk, static_cast<size_t>(got));
            closed_ = got == 0 || (got < 0 && errno != EINTR);
        }
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
    }
    // Whether the input ends within timeoutMs without another line.
    bool Ends(long timeoutMs = 5000) { return !Next(timeoutMs) && Closed(); }

private:
    int fd_;
    std::string buffer_;
    bool closed_ = false;
};
