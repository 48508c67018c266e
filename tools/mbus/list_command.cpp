// `mbus list`: the sinks registered on this machine, one "NAME<tab>PID" line each.
#include <cstdio>

#include "tool.h"

namespace {

// The String under `key` of a listing entry, or "".
std::string TextField(MbItem entry, const char* key) {
    MbItem field = nullptr;
    if (MbMapGetNamed(entry, key, &field) != MbResultOk) return "";
    CItemRef held(field);
    const char* text = nullptr;
    uint16_t length = 0;
    return MbAtomGetString(field, &text, &length) == MbResultOk ? std::string(text, length) : "";
}

// The Unsigned under `key` of a listing entry, or 0.
uint32_t NumberField(MbItem entry, const char* key) {
    MbItem field = nullptr;
    if (MbMapGetNamed(entry, key, &field) != MbResultOk) return 0;
    CItemRef held(field);
    uint32_t value = 0;
    return MbAtomGetUnsigned(field, &value) == MbResultOk ? value : 0;
}

}  // namespace

// The full name (with any session suffix) is the one a source binds to. Every session is listed.
int ListCommand(const CArgs& args) {
    if (!args.empty()) return kExitUsage;
    CLibrary library;
    if (!library.Ready()) return kExitFailed;
    const uint32_t mask =
        MbSinkListFullName | MbSinkListPid | MbSinkListNoSession | MbSinkListOwnSession | MbSinkListOtherSession;
    MbItem list = nullptr;
    const MbResult result = MbSinkListEx(mask, &list);
    if (result == MbNothingReceived) return kExitOk;
    if (result != MbResultOk) {
        std::fprintf(stderr, "mbus: the sinks cannot be listed (result %u)\n", result);
        return kExitFailed;
    }
    CItemRef held(list);
    uint16_t count = 0;
    MbItemGetCount(list, &count);
    for (uint16_t position = 0; position < count; ++position) {
        MbItem entry = nullptr;
        if (MbItemGetAt(list, position, &entry) != MbResultOk) continue;
        CItemRef heldEntry(entry);
        PrintLine(TextField(entry, "FullName") + "\t" + std::to_string(NumberField(entry, "PID")));
    }
    return kExitOk;
}
