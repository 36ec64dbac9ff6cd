#pragma once

#include <mutex>
#include <utility>

namespace qz {

// Accessors of fields guarded by an object's mutex: each takes the lock only for the copy or
// the assignment, so the value handed out can be called or posted without the lock.

// A copy of `field`, taken while holding `mutex`.
template <class Mutex, class T>
T lockedCopy(Mutex& mutex, const T& field) {
    std::lock_guard lock(mutex);
    return field;
}

// Assigns `value` to `field` while holding `mutex`.
template <class Mutex, class T, class U>
void lockedAssign(Mutex& mutex, T& field, U&& value) {
    std::lock_guard lock(mutex);
    field = std::forward<U>(value);
}

}  // namespace qz
