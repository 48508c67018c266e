// ProcessIdToSessionId from /proc/PID/sessionid.
#include "platform/session.h"

#include "base/decimal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace mbus::platform {

bool ParseSessionId(const char* text, size_t length, DWORD* sessionId) noexcept {
    if (length > 0 && text[length - 1] == '\n') --length;
    return ParseDecimal32(std::string_view(text, length), sessionId);
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
