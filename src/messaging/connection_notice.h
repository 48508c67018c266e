// The connection notice: a Send message with a connect or disconnect control flag by which a
// sink tells another sink that one of its sources linked to it or let go. Its payload is the
// sending process's id (32 bits, little-endian) and the sending sink's name, NUL-terminated.
// The receiving sink hands its default service an Update {<sender's name>: <connected>}.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "items/item.h"

std::vector<uint8_t> EncodeConnectionNotice(uint32_t processId, const std::string& sinkName);
// False for a payload shorter than an id and one byte; the name ends at its first NUL or at the
// end of the payload.
bool DecodeConnectionNotice(const uint8_t* data, uint16_t length, uint32_t* processId, std::string* sinkName);
// A Blob item with the stored form of the Update map; empty when it could not be made.
CRef<CItem> StoredConnectionUpdate(const std::string& peerName, bool connect);
