#include "messaging/sink_listing.h"

#include <mbus/mbus.h>

#include <new>

#include "messaging/deliver_interface.h"

namespace {

constexpr uint32_t kFieldBits = 0x1F;
constexpr uint32_t kSelectionBits = 0xF00;
constexpr size_t kMaxDigits = 9;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Length of the run of digits at text[at..].
size_t DigitRun(std::string_view text, size_t at) {
    size_t end = at;
    while (end < text.size() && IsDigit(text[end])) ++end;
    return end - at;
}

uint32_t DecimalValue(std::string_view digits) {
    uint32_t value = 0;
    for (char c : digits) value = value * 10 + static_cast<uint32_t>(c - '0');
    return value;
}

}  // namespace

CSinkAnnotation SinkAnnotationParse(std::string_view text) {
    CSinkAnnotation result;
    const size_t npos = std::string_view::npos;

    // Session suffix: the first '(' (not at 0), the first ')' after it, 1 to 9 digits between.
    const size_t open = text.find('(');
    const bool openCounts = open != npos && open > 0;
    const size_t close = openCounts ? text.find(')', open) : npos;
    if (close != npos) {
        const std::string_view inner = text.substr(open + 1, close - open - 1);
        if (!inner.empty() && inner.size() <= kMaxDigits && DigitRun(inner, 0) == inner.size()) {
            result.local = true;
            result.session = DecimalValue(inner);
        }
    }

    // Process id: the first '#' from the ')' on (from the start without a '('; nowhere when a
    // '(' has no ')'), at the start or after a blank, followed by 1 to 9 digits.
    size_t hash = npos;
    size_t digits = 0;
    if (!openCounts || close != npos) hash = text.find('#', openCounts ? close : 0);
    if (hash != npos && (hash == 0 || text[hash - 1] == ' ')) {
        digits = DigitRun(text, hash + 1);
        if (digits >= 1 && digits <= kMaxDigits) {
            result.pidCounts = true;
            result.pid = DecimalValue(text.substr(hash + 1, digits));
        }
    }
    result.unnamed = result.pidCounts && hash == 0;

    if (result.unnamed) {
        result.fullName = text.substr(0, 1 + digits);
        result.name = result.fullName;
    } else if (result.local) {
        result.fullName = text.substr(0, close + 1);
        result.name = text.substr(0, open);
    } else if (result.pidCounts) {
        result.fullName = text.substr(0, hash - 1);
        result.name = result.fullName;
    } else {
        result.fullName = text;
        result.name = text;
    }
    return result;
}

uint32_t SinkListMaskNormalise(uint32_t mask) {
    uint32_t fields = mask & kFieldBits;
    uint32_t selection = mask & kSelectionBits;
    if (fields == 0) fields = kFieldBits;
    if (selection == 0) selection = MbSinkListNoSession | MbSinkListOwnSession;
    return fields | selection;
}

bool SinkListIncludes(const CSinkAnnotation& annotation, uint32_t mask, uint32_t ownPid, uint32_t ownSession) {
    if (annotation.pidCounts && annotation.pid == ownPid && !(mask & MbSinkListSelf)) return false;
    if (!annotation.local) return (mask & MbSinkListNoSession) != 0;
    return annotation.session == ownSession ? (mask & MbSinkListOwnSession) != 0 : (mask & MbSinkListOtherSession) != 0;
}

ESinkEntryForm SinkListEntryForm(uint32_t mask) {
    switch (mask & kFieldBits) {
        case MbSinkListFullName: return ESinkEntryForm::FullNameText;
        case MbSinkListName: return ESinkEntryForm::NameText;
        default: return ESinkEntryForm::Map;
    }
}

std::string SinkAnnotationFormat(const std::string& name, uint32_t processId) {
    return name + " #" + std::to_string(processId);
}

RPC_STATUS SinkListCollect(uint32_t mask, uint32_t ownPid, uint32_t ownSession, std::vector<CSinkRecord>* records) {
    mask = SinkListMaskNormalise(mask);
    RPC_EP_INQ_HANDLE inquiry = nullptr;
    RPC_STATUS status = RpcMgmtEpEltInqBegin(nullptr, RPC_C_EP_MATCH_BY_IF, &Deliver_v1_0_s_ifspec->id, RPC_C_VERS_ALL,
                                             nullptr, &inquiry);
    if (status != RPC_S_OK) return status;
    RPC_CSTR text = nullptr;
    try {
        while ((status = RpcMgmtEpEltInqNextA(inquiry, nullptr, nullptr, nullptr, &text)) == RPC_S_OK) {
            const CSinkAnnotation annotation = SinkAnnotationParse(text);
            if (SinkListIncludes(annotation, mask, ownPid, ownSession)) {
                records->push_back(CSinkRecord{std::string(annotation.fullName), std::string(annotation.name),
                                               annotation.local, annotation.pid, annotation.session});
            }
            RpcStringFreeA(&text);
        }
    } catch (const std::bad_alloc&) {
        RpcStringFreeA(&text);
        status = RPC_S_OUT_OF_MEMORY;
    }
    RpcMgmtEpEltInqDone(&inquiry);
    return status == RPC_X_NO_MORE_ENTRIES ? RPC_S_OK : status;
}
