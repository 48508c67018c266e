#include "messaging/session_name.h"

#include "platform/platform.h"

uint32_t SessionNumber() {
    DWORD session = 0;
    return ProcessIdToSessionId(GetCurrentProcessId(), &session) ? session : 0;
}

std::string WithSessionSuffix(const std::string& name) {
    return name + "(" + std::to_string(SessionNumber()) + ")";
}
