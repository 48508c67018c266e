#include "messaging/connection_notice.h"

#include <cstring>
#include <utility>

#include "base/coding.h"
#include "items/atom_values.h"
#include "items/item_handles.h"
#include "items/item_tree.h"

namespace {

constexpr size_t kIdBytes = 4;

}  // namespace

std::vector<uint8_t> EncodeConnectionNotice(uint32_t processId, const std::string& sinkName) {
    std::vector<uint8_t> notice(kIdBytes + sinkName.size() + 1);
    EncodeFixed32(notice.data(), processId);
    std::memcpy(notice.data() + kIdBytes, sinkName.data(), sinkName.size());
    notice.back() = 0;
    return notice;
}

bool DecodeConnectionNotice(const uint8_t* data, uint16_t length, uint32_t* processId, std::string* sinkName) {
    if (length <= kIdBytes) return false;
    *processId = DecodeFixed32(data);
    const char* text = reinterpret_cast<const char*>(data + kIdBytes);
    sinkName->assign(text, strnlen(text, length - kIdBytes));
    return true;
}

CRef<CItem> StoredConnectionUpdate(const std::string& peerName, bool connect) {
    if (!CanMakeItems()) return CRef<CItem>();
    CRef<CItem> update = CItem::NewMap();
    CRef<CItem> connected = NewAtomItem(atom_value::Bool(connect ? 1 : 0));
    if (!update || !connected) return CRef<CItem>();
    if (!update->GetMap()->SetNamed(peerName.c_str(), std::move(connected))) return CRef<CItem>();
    return StoreItem(*update);
}
