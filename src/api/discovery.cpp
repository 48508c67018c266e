// Exported listing of the sinks registered on the machine.
#include <mbus/mbus.h>

#include <vector>

#include "api/guard.h"
#include "api/item_ref.h"
#include "messaging/sink_listing.h"
#include "platform/platform.h"

namespace {

// Sets one field from an item made for it; the map keeps its own reference.
bool SetField(MbItem map, const char* key, MbItem value) {
    CItemRef held(value);
    return value != nullptr && MbMapSetNamed(map, key, value) == MbResultOk;
}

// The entry of one listed sink: the chosen fields in the order FullName, bLocal, Name, PID,
// SessionID, or the one text field alone when it is the only field chosen.
MbItem MakeEntry(const CSinkRecord& record, uint32_t mask) {
    switch (SinkListEntryForm(mask)) {
        case ESinkEntryForm::FullNameText: return MbAtomNewString(record.fullName.c_str());
        case ESinkEntryForm::NameText: return MbAtomNewString(record.name.c_str());
        case ESinkEntryForm::Map: break;
    }
    CItemRef entry(MbMapNew());
    if (entry.Get() == nullptr) return nullptr;
    const bool ok =
        ((mask & MbSinkListFullName) == 0 ||
         SetField(entry.Get(), "FullName", MbAtomNewString(record.fullName.c_str()))) &&
        ((mask & MbSinkListLocal) == 0 || SetField(entry.Get(), "bLocal", MbAtomNewBool(record.local ? 1 : 0))) &&
        ((mask & MbSinkListName) == 0 || SetField(entry.Get(), "Name", MbAtomNewString(record.name.c_str()))) &&
        ((mask & MbSinkListPid) == 0 || SetField(entry.Get(), "PID", MbAtomNewUnsigned(record.pid))) &&
        ((mask & MbSinkListSession) == 0 || SetField(entry.Get(), "SessionID", MbAtomNewUnsigned(record.session)));
    return ok ? entry.Detach() : nullptr;
}

}  // namespace

extern "C" MbResult MbSinkListEx(uint32_t mask, MbItem* list) noexcept {
    if (list == nullptr) return MbResultInvalid;
    *list = nullptr;
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        DWORD session = 0;
        if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) session = 0;
        mask = SinkListMaskNormalise(mask);
        std::vector<CSinkRecord> records;
        if (SinkListCollect(mask, GetCurrentProcessId(), session, &records) != 0) return MbResultFailed;
        if (records.empty()) return MbNothingReceived;
        CItemRef result(MbListNew());
        if (result.Get() == nullptr) return MbResultFailed;
        for (const CSinkRecord& record : records) {
            CItemRef entry(MakeEntry(record, mask));
            if (entry.Get() == nullptr || MbListAppend(result.Get(), entry.Get(), nullptr) != MbResultOk) {
                return MbResultFailed;
            }
        }
        *list = result.Detach();
        return MbResultOk;
    });
}

extern "C" MbResult MbSinkList(MbItem* list) noexcept {
    return MbSinkListEx(MbSinkListFullName | MbSinkListLocal | MbSinkListName | MbSinkListPid | MbSinkListSession |
                            MbSinkListNoSession | MbSinkListOwnSession,
                        list);
}
