#include "messaging/service_trace.h"

#include <charconv>
#include <cstring>

#include "items/item_access.h"
#include "messaging/sink.h"
#include "messaging/sink_service.h"
#include "runtime/tracer.h"

std::string CServiceTrace::Prefix(CSink* sink, const std::string& service) {
    std::string prefix;
    if (sink != nullptr && sink->AppendName(prefix)) prefix += '.';
    prefix += service.empty() ? CSinkService::kDefaultName : service;
    return prefix;
}

CServiceTrace::CServiceTrace(const std::string& prefix, const char* label) : wanted_(TraceWanted()) {
    if (!wanted_) return;
    line_.Append(prefix);
    line_.Append(label);
}

void CServiceTrace::Text(const char* text) {
    if (wanted_) line_.Append(text);
}

void CServiceTrace::Named(CItem& map, const char* key, const char* label) {
    if (!wanted_) return;
    CRef<CItem> entry = FindNamed(map, key);
    if (!entry) return;
    if (label != nullptr) Text(label);
    Item(entry.Get());
}

void CServiceTrace::Item(CItem* item) {
    if (wanted_ && item != nullptr) line_.Append(ItemText(*item));
}

void CServiceTrace::Received(const char* label, unsigned count, const char* text) {
    if (!wanted_) return;
    char number[16];
    const auto end = std::to_chars(number, number + sizeof number, count).ptr;
    line_.Append(label);
    line_.Append(": received ");
    line_.Append(number, static_cast<size_t>(end - number));
    line_.Append(" bytes (");
    line_.Append(text, strnlen(text, count));
    line_.Append(").");
}

void CServiceTrace::Finish(const char* last) {
    if (!wanted_) return;
    if (last != nullptr) line_.Append(last);
    line_.Emit();
}
