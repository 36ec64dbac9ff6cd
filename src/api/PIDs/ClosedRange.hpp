#pragma once

#include <cstdint>

namespace qz {

// Inclusive range of byte or bit positions, lower...upper.
struct ClosedRange {
    int64_t lowerBound = 0;
    int64_t upperBound = 0;

    constexpr int64_t count() const { return upperBound - lowerBound + 1; }
    constexpr bool operator==(const ClosedRange&) const = default;
};

}  // namespace qz
