#pragma once

#include <cstdint>
#include <string>

namespace qz {

// State of one readiness monitor.
enum class MonitorTestStatus {
    unavailable,  // the vehicle does not support the monitor
    complete,     // supported, test complete
    incomplete,   // supported, test not complete
    unknown,      // nothing decoded yet
};

// The case name ("unavailable", "complete", "incomplete", "unknown").
std::string describe(MonitorTestStatus status);

// A monitor's status from its supported byte (0: unavailable) and its not-complete byte
// (non-zero: incomplete).
MonitorTestStatus statusFromBytes(uint8_t availableByte, uint8_t completeByte);

}  // namespace qz
