#pragma once

#include <array>
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

namespace detail {
inline constexpr std::array<int8_t, 256> kHexDigitValues = [] {
    std::array<int8_t, 256> values{};
    values.fill(-1);
    for (int d = 0; d < 10; ++d) values['0' + d] = static_cast<int8_t>(d);
    for (int d = 0; d < 6; ++d) {
        values['a' + d] = static_cast<int8_t>(10 + d);
        values['A' + d] = static_cast<int8_t>(10 + d);
    }
    return values;
}();
}  // namespace detail

// The value 0...15 of a hexadecimal digit (either case), -1 for any other character.
constexpr int hexDigitValue(char ch) {
    return detail::kHexDigitValues[static_cast<unsigned char>(ch)];
}

// Whether every character of `text` is a hexadecimal digit (0-9, a-f, A-F); the empty text is.
bool isHex(std::string_view text);

// A byte text: hexadecimal digits (either case) with a value 0...255; nothing otherwise.
std::optional<uint8_t> parseByte(std::string_view text);

// An unsigned base-16 number of at most 16 significant digits; nothing for empty or
// non-hexadecimal text.
std::optional<uint64_t> parseHex64(std::string_view text);

}  // namespace qz
