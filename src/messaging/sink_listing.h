// Sink discovery without items: the endpoint-map annotation "name #pid" that a registered sink
// leaves (the name possibly ending in a "(session)" suffix) and its grammar, the selection mask,
// and the collection of the records that a sink listing returns. Building items from the records
// is left to the caller.
#pragma once

#include "platform/rpc/rpc.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One annotation taken apart. The views point into the parsed text.
struct CSinkAnnotation {
    std::string_view fullName;  // the endpoint name with its session suffix
    std::string_view name;      // the endpoint name without it
    bool local = false;         // a session suffix "(digits)" is present
    uint32_t session = 0;       // its number, 0 when absent
    bool pidCounts = false;     // a "#digits" process id was found where it belongs
    uint32_t pid = 0;           // 0 when it does not count
    bool unnamed = false;       // the annotation of a sink opened without a name: "#pid #pid"
};

// The annotation of a sink registered under `name` by the process `processId`.
std::string SinkAnnotationFormat(const std::string& name, uint32_t processId);

// Parses an annotation. Never fails: text that does not follow the grammar yields the fields
// that can be read (at worst fullName = name = the whole text, no suffix, no process id).
CSinkAnnotation SinkAnnotationParse(std::string_view text);

// The mask with defaults applied: no field bits means every field (0x1F), no selection bits
// means sinks without suffix and of the own session (0x300). Other bits are dropped.
uint32_t SinkListMaskNormalise(uint32_t mask);

// Whether a parsed annotation is listed under a normalised mask for a caller with these ids.
bool SinkListIncludes(const CSinkAnnotation& annotation, uint32_t mask, uint32_t ownPid, uint32_t ownSession);

// What each listed entry is: a map of the chosen fields, or the one text field alone.
enum class ESinkEntryForm { Map, FullNameText, NameText };
ESinkEntryForm SinkListEntryForm(uint32_t mask);

// One listed sink, owning its texts.
struct CSinkRecord {
    std::string fullName;
    std::string name;
    bool local;
    uint32_t pid;
    uint32_t session;
};

// Enumerates the delivery interface's endpoint map and returns the records the mask selects,
// in enumeration order. Fails only when the enumeration cannot start.
RPC_STATUS SinkListCollect(uint32_t mask, uint32_t ownPid, uint32_t ownSession, std::vector<CSinkRecord>* records);
