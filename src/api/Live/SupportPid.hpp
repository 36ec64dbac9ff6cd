#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace qz {

// One support block of Mode 1: element k tells whether PID `pid` + 1 + k is supported.
struct SupportPid {
    // The bytes of a support bitmap (01 00 ... 01 A0, 09 00).
    static constexpr int64_t kBytes = 4;

    int64_t pid = 0;
    std::array<bool, 32> supportArray{};

    // Fills the flags from the sensor's answer to "01" + base and logs them (✅/❌ per PID).
    // The bitmap is the answer's upper-case hexadecimal digits read as one number. An answer
    // that is not a list of hexadecimal byte texts ("NO DATA", "?", anything with other
    // letters) or whose number does not fit 32 bits leaves the flags as they were.
    // Returns the last flag: whether the next block is supported.
    bool setSupport(const std::string& response);
};

}  // namespace qz
