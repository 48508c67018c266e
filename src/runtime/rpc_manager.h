// CRPCManager: exists exactly while the library is initialised; the messaging code refuses to
// work without it. Not counted, not tracked, its lock never taken.
#pragma once

#include "runtime/lockable.h"

class CRPCManager : public CLockable {
public:
    CRPCManager() { className_ = "CRPCManager"; }
};
