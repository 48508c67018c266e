#include "runtime/allowed_users.h"

#include <cstdlib>
#include <string_view>

#include "base/decimal.h"
#include "runtime/reports.h"

namespace {

// The entries the last read ignored. Written by MbLibraryInit only, which runs alongside no
// other call.
std::vector<std::string> ignoredEntries;

}  // namespace

CPeerAllowance ParseAllowedUsers(const char* text, std::vector<std::string>* ignored) {
    CPeerAllowance allowance;
    std::string_view rest = text != nullptr ? text : "";
    while (!rest.empty()) {
        const size_t comma = rest.find(',');
        std::string_view entry = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        const size_t first = entry.find_first_not_of(" \t");
        if (first == std::string_view::npos) continue;
        entry = entry.substr(first, entry.find_last_not_of(" \t") - first + 1);
        if (entry == "*") {
            allowance.everyone = true;
        } else if (uint32_t user = 0; ParseDecimal32(entry, &user)) {
            allowance.users.push_back(user);
        } else {
            ignored->emplace_back(entry);
        }
    }
    return allowance;
}

void ReadAllowedUsers() {
    ignoredEntries.clear();
    RpcServerSetPeerAllowance(ParseAllowedUsers(std::getenv("MBUS_ALLOW_USERS"), &ignoredEntries));
}

void ReportIgnoredAllowedUsers() {
    if (ignoredEntries.empty()) return;
    std::string listed;
    for (const std::string& entry : ignoredEntries) listed += (listed.empty() ? "\"" : ", \"") + entry + "\"";
    ReportWarningText("MBUS_ALLOW_USERS: ignored %s, which %s no user id or *", listed.c_str(),
                      ignoredEntries.size() == 1 ? "is" : "are");
}
