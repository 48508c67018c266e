// libFuzzer target: MbBuildV with a format taken from the input. The arguments are fixed and
// safe for any code: eight doubles fill the floating-point argument registers, and every
// integer or pointer slot (registers and stack alike) holds the address of one buffer. The
// buffer begins with a valid SYSTEMTIME whose bytes also read as a short NUL-terminated text,
// and is longer than any Blob length the low 16 bits of its address can give. A code that reads
// past the registers reads that address again, whatever its type, so the format may use at most
// kMaxCodes argument-taking codes (each takes at most two slots); it is cut before the next one.
//
// A tree that was built must store, load back and store again to the very same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <mbus/mbus.h>

namespace {

constexpr size_t kMaxCodes = 64;
constexpr size_t kMaxFormat = 512;

struct SafeBuffer {
    MbSystemTime time{2020, 1, 3, 1, 12, 30, 15, 500};
    uint8_t rest[65536 + 64] = {};
};
SafeBuffer buffer;

bool TakesArguments(char code) {
    return std::strchr("BbciurstgTGH", code) != nullptr;
}

// clang-format off
#define P1 &buffer
#define P8 P1, P1, P1, P1, P1, P1, P1, P1
#define P64 P8, P8, P8, P8, P8, P8, P8, P8
// clang-format on

MbItem BuildWithSafeArguments(const char* format) {
    return MbBuild(format, 0.5, 1.5, 2.5, 3.5, 4.5, 5.5, 6.5, 7.5, P64, P64, P8);
}

std::string Contents(MbItem blob) {
    const void* data = nullptr;
    uint16_t length = 0;
    if (MbAtomGetBlob(blob, &data, &length) != MbResultOk) return std::string();
    return std::string(static_cast<const char*>(data), length);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return MbLibraryInit() ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string format;
    size_t codes = 0;
    for (size_t at = 0; at < size && at < kMaxFormat && data[at] != 0; ++at) {
        const char code = static_cast<char>(data[at]);
        if (TakesArguments(code) && ++codes > kMaxCodes) break;
        format.push_back(code);
    }
    MbItem tree = BuildWithSafeArguments(format.c_str());
    if (tree == nullptr) return 0;
    MbItem text = MbItemToText(tree, 0);
    MbItem bytes = MbItemToBytes(tree);
    if (bytes != nullptr) {
        MbItem loaded = MbItemFromBytes(bytes);
        MbItem again = MbItemToBytes(loaded);
        if (loaded == nullptr || again == nullptr || Contents(again) != Contents(bytes)) std::abort();
        MbHandleRelease(again);
        MbHandleRelease(loaded);
    }
    MbHandleRelease(bytes);
    MbHandleRelease(text);
    MbHandleRelease(tree);
    return 0;
}
