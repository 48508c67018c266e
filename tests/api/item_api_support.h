// Helpers shared by the item API tests: reference counts and live objects seen from inside,
// and a released handle to pass where a stale one is wanted.
#pragma once

#include <cstddef>
#include <cstdint>

#include <mbus/mbus.h>

#include "runtime/process.h"
#include "runtime/ref_count.h"
#include "runtime/tracker.h"
#include "support/trace_capture.h"

inline uint16_t Refs(MbHandle handle) {
    return static_cast<CRefCount*>(handle)->RefCount();
}

// Counted objects alive in the tracker: equal before and after an operation when the operation
// leaked nothing and released nothing it did not own.
inline size_t LiveObjects() {
    return process::Tracker()->Count();
}

inline size_t UnknownHandleWarnings() {
    return trace_capture::CountContaining("attempt to reference an unknown object at");
}

// An address that no library object ever had.
inline MbItem ForeignHandle() {
    static int foreign;
    return &foreign;
}

using ItemApi = LibraryTest;
