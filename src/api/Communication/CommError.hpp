#pragma once

#include <string>

namespace qz {

// The error of every exchange with the sensor.
enum class CommError {
    timedOut = 0,
    noData = 1,
    noDelegate = 2,
    invalidData = 3,
    unsupported = 4,
    notConnected = 5,
    deviceBusy = 6,
};

std::string describe(CommError error);

}  // namespace qz
