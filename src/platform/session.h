// Parsing the login session number the kernel shows in /proc/PID/sessionid.
#pragma once

#include "platform/platform.h"

#include <cstddef>

namespace mbus::platform {

// The file holds a decimal number, optionally followed by a newline. 4294967295 means the
// process has no login session. True and *sessionId set only for a well-formed number below it.
bool ParseSessionId(const char* text, size_t length, DWORD* sessionId) noexcept;

}  // namespace mbus::platform
