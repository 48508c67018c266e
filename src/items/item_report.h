// Error reports of the item classes with formatted texts. Formatting is skipped when no trace
// callback would receive the report: loading damaged bytes can produce one report per missing
// byte, and nobody may be listening.
#pragma once

void ReportItemError(const char* format, ...) __attribute__((format(printf, 1, 2)));
