#include "items/map_key.h"

#include <new>

#include "base/coding.h"
#include "items/storage.h"
#include "runtime/reports.h"

CMapKey CMapKey::OfText(const char* text) {
    CMapKey key;
    const size_t length = text != nullptr ? std::strlen(text) : 0;
    if (length != 0 && length <= kTextCapacity) {
        std::memcpy(key.text_, text, length);
        key.length_ = static_cast<uint8_t>(length);
        return key;
    }
    key.atom_ = CHeldRef<CAtom>::Adopt(new (std::nothrow) CAtom);
    if (key.atom_ && !key.atom_->SetString(text)) key.atom_.Reset();
    return key;
}

CAtom* CMapKey::Atom() {
    if (!atom_) {
        CHeldRef<CAtom> atom = CHeldRef<CAtom>::Adopt(new (std::nothrow) CAtom);
        if (!atom || !atom->SetString(text_, length_)) {
            ReportError("failed to create new atom");
            return nullptr;
        }
        atom_ = std::move(atom);
        length_ = 0;
    }
    return atom_.Get();
}

bool CMapKey::Read(CStorage& stream) {
    uint16_t available = 0;
    const uint8_t* bytes = stream.IsReading() ? stream.PeekRemaining(&available) : nullptr;
    if (available >= 3 && bytes[0] == CAtom::kTypeLetters[MbTypeString]) {
        const uint16_t length = DecodeFixed16(bytes + 1);
        if (length != 0 && length <= kTextCapacity && available >= 3u + length) {
            std::memcpy(text_, bytes + 3, length);
            length_ = static_cast<uint8_t>(length);
            stream.Skip(static_cast<uint16_t>(3 + length));
            return true;
        }
    }
    atom_ = CHeldRef<CAtom>::Adopt(new (std::nothrow) CAtom);
    if (!atom_) return false;
    atom_->Read(stream);
    return true;
}

uint16_t CMapKey::Render(CStorage& stream, bool bare) {
    return atom_ ? atom_->Render(stream, bare) : CAtom::RenderBytes(stream, bare, text_, length_, true);
}

uint16_t CMapKey::Write(CStorage& stream) {
    return atom_ ? atom_->Write(stream) : CAtom::WriteBytes(stream, MbTypeString, text_, length_, true);
}
