#include "messaging/connection_notice.h"

#include <cstring>

#include "items/atom_values.h"
#include "items/item_handles.h"
#include "items/item_tree.h"

namespace {

constexpr size_t kIdBytes = 4;

}  // namespace

std::vector<uint8_t> EncodeConnectionNotice(uint32_t processId, const std::string& sinkName) {
    std::vector<uint8_t> notice(kIdBytes + sinkName.size() + 1);
    for (size_t i = 0; i < kIdBytes; ++i) notice[i] = static_cast<uint8_t>(processId >> (8 * i));
    std::memcpy(notice.data() + kIdBytes, sinkName.data(), sinkName.size());
    notice.back() = 0;
    return notice;
}

bool DecodeConnectionNotice(const uint8_t* data, uint16_t length, uint32_t* processId, std::string* sinkName) {
    if (length <= kIdBytes) return false;
    *processId = data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
    const char* text = reinterpret_cast<const char*>(data + kIdBytes);
    sinkName->assign(text, strnlen(text, length - kIdBytes));
    return true;
}

CRef<CItem> StoredConnectionUpdate(const std::string& peerName, bool connect) {
    if (!CanMakeItems()) return CRef<CItem>();
    CRef<CItem> update = CItem::NewMap();
    CRef<CItem> connected = NewAtomItem(atom_value::Bool(connect ? 1 : 0));
    if (!update || !connected || !update->GetMap()->SetNamed(peerName.c_str(), connected.Get())) return CRef<CItem>();
    return StoreItem(*update);
}
