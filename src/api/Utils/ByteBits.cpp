#include "api/Utils/ByteBits.hpp"

namespace qz {

std::optional<uint8_t> bits(uint8_t byte, int64_t lower, int64_t upper) {
    uint8_t shifted = 0;
    if (lower >= 0) {
        shifted = lower >= 8 ? 0 : static_cast<uint8_t>(byte >> lower);
    } else {
        // Magnitude of a negative bound without overflowing at the minimum.
        uint64_t magnitude = uint64_t{0} - static_cast<uint64_t>(lower);
        shifted = magnitude >= 8 ? 0 : static_cast<uint8_t>(byte << magnitude);
    }
    // count = upper - lower + 1, in wrapping arithmetic; 8 or more gives 0xFF.
    const uint64_t count = static_cast<uint64_t>(upper) - static_cast<uint64_t>(lower) + 1;
    const uint8_t mask = count >= 8 ? 0xFF : static_cast<uint8_t>((1u << count) - 1);
    return static_cast<uint8_t>(shifted & mask);
}

}  // namespace qz
