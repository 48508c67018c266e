// Names that carry the caller's session: sinks and sources opened with MbOptionSession append
// the session number to their endpoint name as "(<session>)".
#pragma once

#include <cstdint>
#include <string>

// The caller's session number; 0 when the platform cannot tell it.
uint32_t SessionNumber();
// `name` followed by "(<session>)".
std::string WithSessionSuffix(const std::string& name);
