// The Boost.Serialization singleton module's lock flag, exported by its Boost name, and the
// module's four functions as entries of the export table.
#pragma once

bool* SingletonModuleGetLock();
bool SingletonModuleIsLocked();
void SingletonModuleLock();
void SingletonModuleUnlock();
