#include "stress/stress_common.h"

#include <dirent.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace stress {

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

long MillisSince(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

long long Field(const std::string& line, const std::string& key) {
    const std::string word = key + "=";
    for (size_t at = line.find(word); at != std::string::npos; at = line.find(word, at + 1)) {
        if (at == 0 || line[at - 1] == ' ') return std::strtoll(line.c_str() + at + word.size(), nullptr, 10);
    }
    return -1;
}

long StatusKb(pid_t pid, const char* key) {
    const std::string path = pid == 0 ? "/proc/self/status" : "/proc/" + std::to_string(pid) + "/status";
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) return -1;
    long kb = -1;
    char line[256];
    const size_t keyLength = std::strlen(key);
    while (kb < 0 && std::fgets(line, sizeof line, file) != nullptr) {
        if (std::strncmp(line, key, keyLength) == 0 && line[keyLength] == ':') kb = std::atol(line + keyLength + 1);
    }
    std::fclose(file);
    return kb;
}

int OpenDescriptors(pid_t pid) {
    DIR* directory = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (directory == nullptr) return -1;
    int count = 0;
    while (const dirent* entry = readdir(directory)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(directory);
    return count;
}

std::optional<std::string> CLineReader::Next(int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const size_t end = buffer_.find('\n');
        if (end != std::string::npos) {
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            return line;
        }
        if (closed_) return std::nullopt;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd readable{fd_, POLLIN, 0};
        if (poll(&readable, 1, static_cast<int>(left > 0 ? left : 0)) <= 0) return std::nullopt;
        char chunk[4096];
        const ssize_t got = read(fd_, chunk, sizeof chunk);
        if (got > 0) {
            buffer_.append(chunk, static_cast<size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            closed_ = true;
        }
    }
}

void Say(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::putchar('\n');
    std::fflush(stdout);
}

}  // namespace stress
