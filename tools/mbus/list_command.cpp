// `mbus list`: the sinks registered on this machine, with the user that runs each one.
#include <pwd.h>
#include <sys/stat.h>

#include "commands.h"
#include "json.h"
#include "tool.h"

namespace {

// The field under `key` of a listing entry (null when it has none), released with the holder.
struct CField {
    CField(MbItem entry, const char* key) { MbMapGetNamed(entry, key, item.Out()); }
    std::string Text() const { return StringOf(item.Get()); }
    uint32_t Number() const {
        uint32_t value = 0;
        MbAtomGetUnsigned(item.Get(), &value);
        return value;
    }
    bool Flag() const {
        int32_t value = 0;
        MbAtomGetBool(item.Get(), &value);
        return value != 0;
    }
    CItemRef item;
};

// The name of the user that owns /proc/PID, else the uid; "?" when it cannot be read (the
// process ended, or /proc hides it).
std::string ProcessOwner(uint32_t pid) {
    struct stat info {};
    if (pid == 0 || stat(("/proc/" + std::to_string(pid)).c_str(), &info) != 0) return "?";
    passwd entry{};
    passwd* found = nullptr;
    char names[4096];
    if (getpwuid_r(info.st_uid, &entry, names, sizeof names, &found) == 0 && found != nullptr) return found->pw_name;
    return std::to_string(info.st_uid);
}

}  // namespace

// Every session is listed. The full name (with any session suffix) is the one a source binds to.
int ListCommand(const CCommandLine& line) {
    CLibrary library;
    if (!library.Ready()) return kExitFailed;
    const uint32_t mask = MbSinkListFullName | MbSinkListLocal | MbSinkListName | MbSinkListPid | MbSinkListSession |
                          MbSinkListNoSession | MbSinkListOwnSession | MbSinkListOtherSession;
    const bool json = line.Has("--json");
    CItemRef list;
    const MbResult result = MbSinkListEx(mask, list.Out());
    if (result == MbNothingReceived) {
        if (json) PrintLine("[]");
        return kExitOk;
    }
    if (result != MbResultOk) return Failure("the sinks cannot be listed (result " + std::to_string(result) + ")");
    uint16_t count = 0;
    MbItemGetCount(list.Get(), &count);
    for (uint16_t position = 0; position < count; ++position) {
        CItemRef entry;
        MbItemGetAt(list.Get(), position, entry.Out());
        const uint32_t pid = CField(entry.Get(), "PID").Number();
        const std::string user = ProcessOwner(pid);
        if (json) {
            CItemRef name(MbAtomNewString(user.c_str()));
            MbMapSetNamed(entry.Get(), "User", name.Get());
            continue;
        }
        const bool session = CField(entry.Get(), "bLocal").Flag();
        PrintLine(CField(entry.Get(), "FullName").Text() + "\t" + CField(entry.Get(), "Name").Text() + "\t" +
                  (session ? std::to_string(CField(entry.Get(), "SessionID").Number()) : "-") + "\t" +
                  std::to_string(pid) + "\t" + user);
    }
    if (json) PrintLine(ItemJson(list.Get()));
    return kExitOk;
}
