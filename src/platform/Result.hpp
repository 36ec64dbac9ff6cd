#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <vector>

namespace qz {

// A value or an error.
template <class T, class E>
using Result = std::expected<T, E>;

// A run of bytes.
using Data = std::vector<uint8_t>;

}  // namespace qz
