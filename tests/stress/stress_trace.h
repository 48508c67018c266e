// The library's trace output in a role process: counted, its first lines echoed to standard
// error (where a failing ctest run shows them), one line kept as a sample on request.
#pragma once

#include <string>

namespace stress {

// Initialises the library and, when traced, installs the counting callback (without one the
// library formats no trace line at all); false when initialising failed.
bool StartLibrary(const char* role, bool traced);
// Ends the library and returns the figures every role reports: " term_ms=N traces=N hwm_kb=N".
std::string EndLibrary();
// Trace lines seen so far.
long TraceLines();
// Keeps the first whole line traced from now on; TraceSample() gives it ("" when none came).
void TraceSampleStart();
std::string TraceSample();

}  // namespace stress
