#include "api/Utils/StringXor.hpp"

namespace qz {

namespace {
inline uint8_t scramble(uint8_t b) {
    return (b == 0x3E || b == 0x0D) ? b : static_cast<uint8_t>(b ^ kLinkKey);
}
}  // namespace

std::string xorString(std::string_view text) {
    std::string out(text.size(), '\0');
    for (size_t i = 0; i < text.size(); ++i)
        out[i] = static_cast<char>(scramble(static_cast<uint8_t>(text[i])));
    return out;
}

Data xorData(const Data& bytes) {
    Data out(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) out[i] = scramble(bytes[i]);
    return out;
}

}  // namespace qz
