// Every exported function runs its body through Guarded: nothing thrown inside (an allocation
// failure, most likely) crosses the C boundary; the function returns its failure value instead.
#pragma once

#include <utility>

template <class Result, class Body>
Result Guarded(Result failure, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return failure;
    }
}

template <class Body>
void GuardedVoid(Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (...) {
    }
}
