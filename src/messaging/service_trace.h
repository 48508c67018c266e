// CServiceTrace: one diagnostic line of a sink service's handler, "<sink>.<service><label>...".
// The service makes its "<sink>.<service>" prefix once (Prefix), since every traced message
// starts with it. Nothing is formatted when no callback would receive it. A text piece ends at
// its first NUL, as printed pieces do.
#pragma once

#include <string>

#include "messaging/trace_line.h"

class CItem;
class CSink;

class CServiceTrace {
public:
    // "<sink>.<service>", or "<service>" for a sink without a name; an empty service name is
    // the default service's.
    static std::string Prefix(CSink* sink, const std::string& service);

    CServiceTrace(const std::string& prefix, const char* label);

    bool Wanted() const { return wanted_; }
    void Text(const char* text);
    // The entry `key` of a map, after `label` when given; nothing when the map lacks it.
    void Named(CItem& map, const char* key, const char* label);
    // The item's text form; nothing for null.
    void Item(CItem* item);
    // The ".Send" and ".Request" lines: a count and the payload of `count` bytes, shown up to
    // its first NUL.
    void Received(const char* label, unsigned count, const char* text);
    // Ends the line with `last` (when given) and hands it to the user tracer.
    void Finish(const char* last);

private:
    bool wanted_;
    CTraceLine line_;
};
