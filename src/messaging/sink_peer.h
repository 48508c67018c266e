// CSinkPeer: the record of one other process's sink that this process's sink is linked with.
#pragma once

#include <cstdint>

#include "items/item.h"
#include "runtime/ref_count.h"

class CSource;

class CSinkPeer final : public CCountable {
public:
    // A peer this process reaches through `source` (flag Local).
    explicit CSinkPeer(CSource* local);
    // A peer that announced itself with a connection notice (flag Remote).
    CSinkPeer(const char* peerName, uint32_t peerProcessId);
    ~CSinkPeer() override;

    // flags = (flags & ~mask) | (mask & value) when mask is non-zero; returns the flags.
    uint32_t ModifyFlags(uint32_t mask, uint32_t value);
    uint32_t GetFlags() { return ModifyFlags(0, 0); }
    // The name item with a reference for the caller; empty without a name.
    CCheckedRef<CItem> GetName();
    // Also passes the id to a linked source.
    void SetPid(uint32_t processId);
    // Links `source` (or none); Local follows whether a source is linked.
    void SetSource(CSource* source);
    // Whether `source` is the linked source.
    bool Links(CSource* source);
    // Posts a test through the linked source; Failed becomes the negation of the result.
    bool Test();

private:
    // A String item; fixed at construction.
    const CCheckedRef<CItem> name_;
    uint32_t processId_;
    CCheckedRef<CSource> source_;
    uint32_t flags_;
};
