#include "requests/wake_word.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "a futex word is 32 bits");

void CWakeWord::Sleep(uint32_t ticket, uint32_t milliseconds) {
    const timespec timeout{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    // Returns at once when the word moved on since the ticket (EAGAIN).
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word_), FUTEX_WAIT_PRIVATE, ticket, &timeout, nullptr, 0);
}

void CWakeWord::Wake() {
    word_.fetch_add(1, std::memory_order_release);
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word_), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}
