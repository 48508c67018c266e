// Error reports of the item classes with formatted texts. Formatting is skipped when no trace
// callback would receive the report: loading damaged bytes can produce one report per missing
// byte, and nobody may be listening.
#pragma once

void ReportItemError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// One load's reports: while an object of this class lives on a thread, ReportItemError passes
// on the first report made there and drops the rest. A few hostile bytes can announce 65,535
// elements or hold thousands of unknown letters, each a damage report of its own; the first
// says the bytes are damaged, the others only multiply it. Scopes nest (a trace callback may
// load items itself); the callback that receives the one report runs outside the scope.
class CFirstItemReportOnly {
public:
    CFirstItemReportOnly();
    ~CFirstItemReportOnly();
    CFirstItemReportOnly(const CFirstItemReportOnly&) = delete;
    CFirstItemReportOnly& operator=(const CFirstItemReportOnly&) = delete;

private:
    friend void ReportItemError(const char* format, ...);

    CFirstItemReportOnly* const outer_;
    bool reported_ = false;
};
