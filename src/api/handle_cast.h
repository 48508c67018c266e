// Resolving a caller's handle to a library object of one kind.
#pragma once

#include "runtime/ref_count.h"
#include "runtime/tracker.h"

// The object behind `handle` when the tracker knows it and it is a T; null otherwise (an
// unknown non-null handle is reported by the tracker check).
template <class T>
T* ResolveAs(const void* handle) {
    return dynamic_cast<T*>(ResolveHandle(handle));
}

// As ResolveAs, holding a counted reference for the duration of the call.
template <class T>
CRef<T> ShareAs(const void* handle) {
    T* object = ResolveAs<T>(handle);
    return object != nullptr && CheckedAddRef(object) ? CRef<T>::Adopt(object) : CRef<T>();
}

// Drops the caller's reference to a T; false for a null, unknown or foreign handle.
template <class T>
bool ReleaseAs(const void* handle) {
    T* object = ResolveAs<T>(handle);
    return object != nullptr && CheckedRelease(object);
}
