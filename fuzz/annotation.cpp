// Feeds arbitrary text to the sink annotation parser and the selection built on it. The
// names are always beginnings of the text, and the flags agree with one another.
#include "messaging/sink_listing.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const uint32_t mask = data[0] | (data[1] << 8);
    const uint32_t own = data[2] | (data[3] << 8);
    const std::string_view text(reinterpret_cast<const char*>(data + 4), size - 4);
    const CSinkAnnotation annotation = SinkAnnotationParse(text);
    if (annotation.fullName.data() != text.data() || annotation.name.data() != text.data()) __builtin_trap();
    if (annotation.name.size() > annotation.fullName.size()) __builtin_trap();
    if (annotation.unnamed && !annotation.pidCounts) __builtin_trap();
    if (!annotation.pidCounts && annotation.pid != 0) __builtin_trap();
    if (!annotation.local && annotation.session != 0) __builtin_trap();
    if (annotation.local && annotation.fullName.back() != ')') __builtin_trap();
    if (!annotation.local && !annotation.unnamed && annotation.name != annotation.fullName) __builtin_trap();
    const uint32_t normalised = SinkListMaskNormalise(mask);
    if ((normalised & 0x1F) == 0 || (normalised & 0xF00) == 0 || (normalised & ~0xF1Fu) != 0) __builtin_trap();
    SinkListIncludes(annotation, normalised, own, own & 3);
    SinkListEntryForm(normalised);
    return 0;
}
