#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qz {

// Base-16 text of `value`, padded with leading zeros to at least two characters (never cut).
// A negative number gets a leading minus sign, which counts toward the two characters.
std::string asTwoDigitHex(int64_t value, bool uppercase = true);
std::string asTwoDigitHex(uint64_t value, bool uppercase = true);

// Bit `index` of `value` as 0 or 1; an index outside the type's width gives 0.
constexpr uint64_t bitAt(uint64_t value, int64_t index) {
    return (index < 0 || index >= 64) ? 0 : (value >> index) & 1u;
}

// A byte text: hexadecimal digits (either case) with a value 0...255; nothing otherwise.
std::optional<uint8_t> parseByte(std::string_view text);

// An unsigned base-16 number of at most 16 significant digits; nothing for empty or
// non-hexadecimal text.
std::optional<uint64_t> parseHex64(std::string_view text);

// Bits lower...upper of `byte`: shifted right by lower, masked to the range's width (a width of
// 8 or more keeps all bits); a lower bound of 8 or more gives 0, a lower bound in -7...-1 shifts
// left by its magnitude, keeping 8 bits.
uint8_t bitsOf(uint8_t byte, int64_t lower, int64_t upper);

}  // namespace qz
