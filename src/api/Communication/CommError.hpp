#pragma once

#include <string>

namespace qz {

// The error of every exchange with the sensor, and of the live-data and Wi-Fi calls.
enum class CommError {
    timedOut = 0,      // the sensor did not answer within 3 seconds (also without an open
                       // session, and at once after five silent exchanges in a row, until the
                       // next connect), or the main queue held its answer past the wait: check
                       // the link, connect again, keep the main queue free
    noData = 1,        // declared for the app; the library's calls report a "NO DATA" answer
                       // as invalidData (only the internal support walk gives noData: 01 00
                       // not answered)
    noDelegate = 2,    // the gateway was released, or has no link to the sensor
    invalidData = 3,   // the answer held no usable value ("NO DATA", too few bytes, not hex),
                       // or the VIN failed its check: the vehicle does not give that value
    unsupported = 4,   // the vehicle does not support the value (the odometer)
    notConnected = 5,  // no connected sensor: connect first
    deviceBusy = 6,    // another operation holds the gateway: try again after it
};

// The case name ("timedOut", ...).
std::string describe(CommError error);

}  // namespace qz
