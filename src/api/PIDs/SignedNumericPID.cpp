#include "api/PIDs/SignedNumericPID.hpp"

#include <cmath>

#include "api/PIDs/HexText.hpp"

namespace qz {

std::optional<Measurement> SignedNumericPID::valueLocked() const {
    auto n = joinedNumberLocked();
    // Must fit a signed 64-bit number.
    if (!n || *n > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
    int64_t width = 8 * bytesToRead_.count();
    // Negative when the field's top bit is its highest set bit (n has exactly `width` binary
    // digits); its magnitude is 2^width - n.
    if (width >= 1 && width <= 63 && (*n >> (width - 1)) == 1) {
        uint64_t magnitude = (uint64_t{1} << width) - *n;
        return measure(-static_cast<double>(magnitude));
    }
    return measure(static_cast<double>(*n));
}

}  // namespace qz
