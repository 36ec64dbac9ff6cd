#pragma once

#include <optional>

namespace qz {

// True when the optional is empty or its collection has no elements.
template <class C>
bool isNilOrEmpty(const std::optional<C>& value) {
    return !value || value->empty();
}

// The collection when present and not empty; none otherwise.
template <class C>
std::optional<C> nonEmpty(const std::optional<C>& value) {
    if (isNilOrEmpty(value)) return std::nullopt;
    return value;
}

// The wrapped value when present, otherwise the default.
template <class C>
C unwrapped(const std::optional<C>& value, C orDefault) {
    return value ? *value : std::move(orDefault);
}

}  // namespace qz
