#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qz::sim {

using Bytes = std::vector<uint8_t>;

// The sensor's side of the link scrambling: every byte except '>' and carriage return is
// XOR-ed with the link key. The same operation scrambles and descrambles.
inline constexpr uint8_t kLinkKey = 0x5B;

inline uint8_t scrambleByte(uint8_t b) {
    return (b == 0x3E || b == 0x0D) ? b : static_cast<uint8_t>(b ^ kLinkKey);
}

Bytes scramble(const Bytes& in);
Bytes scramble(std::string_view text);
std::string scrambleToString(const Bytes& in);

Bytes toBytes(std::string_view text);
std::string toString(const Bytes& bytes);

}  // namespace qz::sim
