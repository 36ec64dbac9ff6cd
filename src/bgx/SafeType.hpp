#pragma once

#include <memory>

namespace qz {

// `object` when it is a T (or derived from T), else null.
template <class T, class U>
std::shared_ptr<T> SafeType(const std::shared_ptr<U>& object) {
    return std::dynamic_pointer_cast<T>(object);
}

}  // namespace qz
