#include "api/item_builder.h"

bool CItemBuilder::Place(CRef<CItem> item) {
    if (depth_ == 0) {
        if (result_) return false;
        result_ = std::move(item);
        return true;
    }
    Frame& top = frames_[depth_ - 1];
    if (!top.isMap) return top.container->GetList()->Append(std::move(item));
    if (!top.pendingKey) {
        top.pendingKey = std::move(item);
        return true;
    }
    CAtom* key = top.pendingKey->GetAtom();
    if (key == nullptr || !top.container->GetMap()->Set(key, std::move(item))) return false;
    top.pendingKey.Reset();
    return true;
}

bool CItemBuilder::Open(bool isMap) {
    if (depth_ == kMaxDepth) return false;
    CRef<CItem> container = isMap ? CItem::NewMap() : CItem::NewList();
    if (!container) return false;
    Frame& frame = frames_[depth_++];
    frame.container = std::move(container);
    frame.isMap = isMap;
    return true;
}

bool CItemBuilder::Close(bool isMap) {
    if (depth_ == 0) return false;
    Frame& top = frames_[depth_ - 1];
    if (top.isMap != isMap || top.pendingKey) return false;
    CRef<CItem> container = std::move(top.container);
    --depth_;
    return Place(std::move(container));
}

CRef<CItem> CItemBuilder::Finish() {
    if (depth_ != 0) return CRef<CItem>();
    return std::move(result_);
}
