// Resolving a caller's handle to a library object of one kind.
#pragma once

#include <type_traits>
#include <typeinfo>

#include "runtime/ref_count.h"
#include "runtime/tracker.h"

// The object behind `handle` when the tracker knows it and it is a T; null otherwise (an
// unknown non-null handle is reported by the tracker check). Handles name objects of final
// classes only, so comparing the dynamic type is enough and costs less than a dynamic_cast.
template <class T>
T* ResolveAs(const void* handle) {
    static_assert(std::is_final_v<T>, "a handle resolves to a final class");
    CRefCount* object = ResolveHandle(handle);
    return object != nullptr && typeid(*object) == typeid(T) ? static_cast<T*>(object) : nullptr;
}

// As ResolveAs, holding a counted reference for the duration of the call. The object is known
// already, so the reference is taken as CheckedAddRef would take it, without a second lookup.
template <class T>
CRef<T> ShareAs(const void* handle) {
    T* object = ResolveAs<T>(handle);
    return object != nullptr && object->AddRef() > 1 ? CRef<T>::Adopt(object) : CRef<T>();
}

// Drops the caller's reference to a T, as CheckedRelease would; false for a null, unknown or
// foreign handle.
template <class T>
bool ReleaseAs(const void* handle) {
    T* object = ResolveAs<T>(handle);
    return object != nullptr && object->Release() != 0;
}
