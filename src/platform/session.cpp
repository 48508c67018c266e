// ProcessIdToSessionId from /proc/PID/sessionid.
#include "platform/session.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace mbus::platform {

static constexpr uint64_t kNoSession = 4294967295u;

bool ParseSessionId(const char* text, size_t length, DWORD* sessionId) noexcept {
    if (length > 0 && text[length - 1] == '\n') --length;
    if (length == 0 || length > 10) return false;
    uint64_t value = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    if (value >= kNoSession) return false;
    *sessionId = static_cast<DWORD>(value);
    return true;
}

}  // namespace mbus::platform

extern "C" BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId) noexcept {
    if (sessionId == nullptr) return FALSE;
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%u/sessionid", processId);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return FALSE;
    char text[16];
    ssize_t length;
    do {
        length = read(fd, text, sizeof text);
    } while (length < 0 && errno == EINTR);
    close(fd);
    if (length <= 0) return FALSE;
    return mbus::platform::ParseSessionId(text, static_cast<size_t>(length), sessionId) ? TRUE : FALSE;
}
