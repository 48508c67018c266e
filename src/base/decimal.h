// Decimal numbers in text that comes from outside the library (a /proc file, an environment
// variable). Freestanding: nothing of the project, no Linux header.
#pragma once

#include <cstdint>
#include <string_view>

// True, with *value set, for 1 to 10 decimal digits (no sign, no blank) worth less than
// 4294967295, the value that stands for "none" among the kernel's 32-bit ids (user, session).
inline bool ParseDecimal32(std::string_view text, uint32_t* value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t number = 0;
    for (char digit : text) {
        if (digit < '0' || digit > '9') return false;
        number = number * 10 + static_cast<uint64_t>(digit - '0');
    }
    if (number >= 0xFFFFFFFFu) return false;
    *value = static_cast<uint32_t>(number);
    return true;
}
