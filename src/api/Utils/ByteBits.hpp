#pragma once

#include <cstdint>
#include <optional>

namespace qz {

// The bit field lower...upper (both included) of a byte: the byte shifted right
// by lower (left by its magnitude when negative; 8 or more shifts give 0), masked
// with 2^count - 1 reduced to 8 bits. Always present.
std::optional<uint8_t> bits(uint8_t byte, int64_t lower, int64_t upper);

}  // namespace qz
