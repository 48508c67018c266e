// Holds one reference to an item handle and releases it when the scope ends.
#pragma once

#include <mbus/mbus.h>

class CItemRef {
public:
    explicit CItemRef(MbItem item = nullptr) : item_(item) {}
    ~CItemRef() {
        if (item_ != nullptr) MbHandleRelease(item_);
    }
    CItemRef(const CItemRef&) = delete;
    CItemRef& operator=(const CItemRef&) = delete;

    MbItem Get() const { return item_; }
    // Hands the reference to the caller.
    MbItem Detach() {
        MbItem item = item_;
        item_ = nullptr;
        return item;
    }
    // For functions that hand out an item with a reference through an out-argument.
    MbItem* Out() { return &item_; }

private:
    MbItem item_;
};
