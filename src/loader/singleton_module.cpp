#include "loader/singleton_module.h"

#include <boost/serialization/singleton.hpp>

// The flag is the static inside the module's private get_lock. Using the module below makes
// this library define it, with default visibility, under the Boost name; this declaration
// names the same object.
extern bool singletonModuleFlag __asm__("_ZZN5boost13serialization16singleton_module8get_lockEvE4lock");

namespace {
// The module has no state of its own: every instance reads and writes the one flag.
boost::serialization::singleton_module module;
}  // namespace

bool* SingletonModuleGetLock() {
    module.is_locked();
    return &singletonModuleFlag;
}

bool SingletonModuleIsLocked() {
    return module.is_locked();
}

void SingletonModuleLock() {
    module.lock();
}

void SingletonModuleUnlock() {
    module.unlock();
}
