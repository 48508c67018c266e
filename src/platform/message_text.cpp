// FormatMessageA over the system message table: the English texts of the statuses the library
// and its RPC transport produce. Like the system's own texts they end with "\r\n".
#include "platform/platform.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

constexpr DWORD kAllocateBuffer = 0x00000100u;  // FORMAT_MESSAGE_ALLOCATE_BUFFER, not supported
constexpr DWORD kLangEnglish = 0x09u;

struct SMessage {
    DWORD id;
    const char* text;
};

// Sorted by id.
constexpr SMessage kMessages[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {14, "Not enough memory resources are available to complete this operation.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {1700, "The string binding is invalid.\r\n"},
    {1701, "The binding handle is not the correct type.\r\n"},
    {1702, "The binding handle is invalid.\r\n"},
    {1703, "The RPC protocol sequence is not supported.\r\n"},
    {1704, "The RPC protocol sequence is invalid.\r\n"},
    {1705, "The string universal unique identifier (UUID) is invalid.\r\n"},
    {1706, "The endpoint format is invalid.\r\n"},
    {1707, "The network address is invalid.\r\n"},
    {1708, "No endpoint was found.\r\n"},
    {1713, "The RPC server is already listening.\r\n"},
    {1714, "No protocol sequences have been registered.\r\n"},
    {1715, "The RPC server is not listening.\r\n"},
    {1717, "The interface is unknown.\r\n"},
    {1718, "There are no bindings.\r\n"},
    {1719, "There are no protocol sequences.\r\n"},
    {1720, "The endpoint cannot be created.\r\n"},
    {1721, "Not enough resources are available to complete this operation.\r\n"},
    {1722, "The RPC server is unavailable.\r\n"},
    {1723, "The RPC server is too busy to complete this operation.\r\n"},
    {1726, "The remote procedure call failed.\r\n"},
    {1727, "The remote procedure call failed and did not execute.\r\n"},
    {1728, "A remote procedure call (RPC) protocol error occurred.\r\n"},
    {1740, "The endpoint is a duplicate.\r\n"},
    {1753, "There are no more endpoints available from the endpoint mapper.\r\n"},
    {1761, "The entry is not found.\r\n"},
};

constexpr bool IsSortedById() {
    for (size_t i = 1; i < std::size(kMessages); ++i) {
        if (kMessages[i - 1].id >= kMessages[i].id) return false;
    }
    return true;
}
static_assert(IsSortedById(), "kMessages must be sorted by id without duplicates");

const char* FindText(DWORD id) noexcept {
    auto found = std::lower_bound(std::begin(kMessages), std::end(kMessages), id,
                                  [](const SMessage& message, DWORD key) { return message.id < key; });
    return found != std::end(kMessages) && found->id == id ? found->text : nullptr;
}

// The table is English; a request for any other primary language finds nothing.
bool IsEnglishOrNeutral(DWORD languageId) noexcept {
    DWORD primary = languageId & 0x3FFu;
    return primary == LANG_NEUTRAL || primary == kLangEnglish;
}

}  // namespace

// The text and its terminator must fit in size bytes; otherwise nothing is written but an empty
// text, and the result is 0, as for an unknown id.
extern "C" DWORD FormatMessageA(DWORD flags, const void* /*source*/, DWORD messageId, DWORD languageId, char* buffer,
                                DWORD size, va_list* /*arguments*/) noexcept {
    if (buffer == nullptr || size == 0) return 0;
    buffer[0] = '\0';
    if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || (flags & kAllocateBuffer) != 0 || !IsEnglishOrNeutral(languageId))
        return 0;
    const char* text = FindText(messageId);
    if (text == nullptr) return 0;
    size_t length = std::strlen(text);
    if (length >= size) return 0;
    std::memcpy(buffer, text, length + 1);
    return static_cast<DWORD>(length);
}
