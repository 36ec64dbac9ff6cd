#pragma once

#include <cstdint>

namespace qz {

// The make number used across the engine.
enum class EnhancedProtocolManufacturer : int64_t {
    Unknown = 0,
    GM = 1,
    Chrysler = 2,
    Ford = 3,
    Toyota = 4,
    BMW = 5,
    Nissan = 6,
    Honda = 7,
    VOLKSWAGEN = 8,
    Mercedes = 9,
    Hyundai = 10,
    Mazda = 11,
    Mitsubishi = 12,
    Subaru = 13,
};

// Whether a make number is the make.
constexpr bool isMake(int64_t make, EnhancedProtocolManufacturer m) {
    return make == static_cast<int64_t>(m);
}

}  // namespace qz
