// The users besides its own and root that may deliver to this process's sink, as the
// environment variable MBUS_ALLOW_USERS names them: user ids separated by commas ("1001,1002"),
// or "*" for every user.
#pragma once

#include <string>
#include <vector>

#include "platform/rpc/peer_access.h"

// Blanks around an entry and empty entries are skipped. An entry that is neither "*" nor a user
// id (1 to 10 decimal digits up to 4294967294; (uid_t)-1 names no user) is ignored and added to
// *ignored. A null text allows nobody.
CPeerAllowance ParseAllowedUsers(const char* text, std::vector<std::string>* ignored);
// Makes MBUS_ALLOW_USERS this process's server allowance; called by MbLibraryInit.
void ReadAllowedUsers();
// Traces what the last read ignored, in one warning, when it ignored anything. Called when the
// process opens its sink: at MbLibraryInit no trace callback can be installed yet.
void ReportIgnoredAllowedUsers();
