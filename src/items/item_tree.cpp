#include "items/item_tree.h"

#include <cstring>
#include <new>
#include <vector>

#include "items/storage.h"
#include "items/str.h"

namespace {

// A new wrapper holding a Blob atom with a copy of the bytes (no CStr for none); empty when an
// allocation failed.
CRef<CItem> NewBlob(const uint8_t* bytes, uint16_t length) {
    CRef<CItem> item = CItem::NewAtom();
    if (!item) return item;
    CAtom* atom = item->GetAtom();
    atom->SetBlob(bytes, length);
    if (bytes != nullptr && length != 0 && atom->GetBlob() == nullptr) return CRef<CItem>();
    return item;
}

}  // namespace

CRef<CItem> StoreItem(CItem& item) {
    CStorage stream;
    if (!stream.OpenForWriting()) return CRef<CItem>();
    item.Write(stream);
    stream.Close();
    if (stream.Failed() || !stream.OpenForReading(true)) return CRef<CItem>();
    uint16_t length = 0;
    const uint8_t* bytes = stream.GetContents(&length);
    return NewBlob(bytes, length);
}

CRef<CItem> LoadItem(const void* bytes, size_t length) {
    if (bytes == nullptr || length == 0 || length > CStorage::kMaxLength) return CRef<CItem>();
    CStorage stream;
    stream.OpenForAppending();
    const bool whole = stream.WriteBytes(bytes, static_cast<uint16_t>(length)) == length;
    stream.Close();
    if (!whole || !stream.OpenForReading(false)) return CRef<CItem>();
    CRef<CItem> item = CRef<CItem>::Adopt(new (std::nothrow) CItem);
    if (item) item->Read(stream);
    return item;
}

CRef<CItem> RenderItem(CItem& item, bool bare) {
    CStorage stream;
    if (!stream.OpenForWriting()) return CRef<CItem>();
    item.Render(stream, bare);
    if (!bare && stream.Length() > CStorage::kHeaderSize) stream.WriteByte(0);
    stream.Close();
    if (stream.Failed() || !stream.OpenForReading(false)) return CRef<CItem>();
    uint16_t length = 0;
    const uint8_t* text = stream.PeekRemaining(&length);
    return NewBlob(text, length);
}

namespace {

bool SameString(const CStr* a, const CStr* b) {
    if (a == nullptr || b == nullptr) return a == b;
    uint32_t lengthA = 0;
    uint32_t lengthB = 0;
    const char* bytesA = a->GetString(&lengthA);
    const char* bytesB = b->GetString(&lengthB);
    return lengthA == lengthB && (bytesA == nullptr) == (bytesB == nullptr) &&
           (lengthA == 0 || std::memcmp(bytesA, bytesB, lengthA) == 0);
}

bool SameAtom(const CAtom* a, const CAtom* b) {
    if (a == nullptr || b == nullptr) return a == b;
    if (a->GetType() != b->GetType()) return false;
    if (CAtom::IsBytes(a->GetType())) return SameString(a->HeldString(), b->HeldString());
    return a->CellBits() == b->CellBits();
}

}  // namespace

// Walks both trees side by side with an explicit stack of container pairs, each pair locked
// (lower address first, so that two comparisons of the same trees cannot deadlock) while its
// elements are compared.
class CTreeComparer {
public:
    ~CTreeComparer() {
        while (!frames_.empty()) Leave();
    }

    bool Items(CItem& a, CItem& b) {
        if (!Item(&a, &b)) return false;
        while (!frames_.empty()) {
            Frame& frame = frames_.back();
            if (frame.next == frame.count) {
                Leave();
                continue;
            }
            const uint32_t index = frame.next++;
            if (frame.isMap) {
                const CMap::Entry& left = static_cast<CMap*>(frame.a)->entries_[index];
                const CMap::Entry& right = static_cast<CMap*>(frame.b)->entries_[index];
                if (!SameAtom(left.key, right.key) || !Item(left.value, right.value)) return false;
                continue;
            }
            CItem* left = Element(frame.a, index);
            CItem* right = Element(frame.b, index);
            // Unmade elements run to the end of both lists alike.
            if (left == nullptr && right == nullptr) {
                frame.next = frame.count;
            } else if (!Item(left, right)) {
                return false;
            }
        }
        return true;
    }

private:
    struct Frame {
        CStorable* a;
        CStorable* b;
        bool isMap;
        uint32_t next;
        uint32_t count;
    };

    // A list's element, or null for an unmade one.
    static CItem* Element(CStorable* list, uint32_t index) {
        const std::vector<CItem*>& made = static_cast<CList*>(list)->elements_;
        return index < made.size() ? made[index] : nullptr;
    }

    static bool IsEmptyWrapper(const CItem* item) {
        return item == nullptr || (item->GetType() == MbTypeItem && item->Child() == nullptr);
    }

    // Null stands for an unmade element: an empty wrapper.
    bool Item(CItem* a, CItem* b) {
        if (a == nullptr || b == nullptr) return IsEmptyWrapper(a) && IsEmptyWrapper(b);
        if (a->GetType() != b->GetType()) return false;
        if ((a->Child() == nullptr) != (b->Child() == nullptr)) return false;
        if (a->GetAtom() != nullptr) return SameAtom(a->GetAtom(), b->GetAtom());
        if (a->GetList() != nullptr) {
            return Enter(*a->GetList(), *b->GetList(), false, [](CStorable* c) {
                const auto* list = static_cast<CList*>(c);
                return list->elements_.size() + list->unmade_;
            });
        }
        if (a->GetMap() != nullptr) {
            return Enter(*a->GetMap(), *b->GetMap(), true, [](CStorable* c) {
                return static_cast<CMap*>(c)->entries_.size();
            });
        }
        return true;
    }

    template <class CountOf>
    // Locked here and unlocked in Leave, which the analysis cannot pair.
    bool Enter(CStorable& a, CStorable& b, bool isMap, CountOf countOf) NO_THREAD_SAFETY_ANALYSIS {
        CStorable* first = &a < &b ? &a : &b;
        CStorable* second = &a < &b ? &b : &a;
        frames_.push_back(Frame{&a, &b, isMap, 0, 0});
        first->Lock();
        second->Lock();
        const size_t count = countOf(&a);
        frames_.back().count = static_cast<uint32_t>(count);
        return count == countOf(&b);
    }

    void Leave() NO_THREAD_SAFETY_ANALYSIS {
        frames_.back().a->Unlock();
        frames_.back().b->Unlock();
        frames_.pop_back();
    }

    std::vector<Frame> frames_;
};

bool SameTree(CItem& a, CItem& b) {
    CTreeComparer comparer;
    return comparer.Items(a, b);
}
