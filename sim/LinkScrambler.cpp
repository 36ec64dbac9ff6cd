#include "sim/LinkScrambler.hpp"

namespace qz::sim {

Bytes scramble(const Bytes& in) {
    Bytes out;
    out.reserve(in.size());
    for (uint8_t b : in) out.push_back(scrambleByte(b));
    return out;
}

Bytes scramble(std::string_view text) {
    Bytes out;
    out.reserve(text.size());
    for (char c : text) out.push_back(scrambleByte(static_cast<uint8_t>(c)));
    return out;
}

std::string scrambleToString(const Bytes& in) {
    std::string out;
    out.reserve(in.size());
    for (uint8_t b : in) out.push_back(static_cast<char>(scrambleByte(b)));
    return out;
}

Bytes toBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

std::string toString(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace qz::sim
