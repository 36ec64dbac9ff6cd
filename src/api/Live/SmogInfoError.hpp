#pragma once

#include <string>

namespace qz {

// The error of the emissions-readiness check.
enum class SmogInfoError {
    setupFailed = 0,   // the sensor refused or did not answer the check's set-up or end, the
                       // vehicle did not answer (no vehicle, ignition off), the monitor status
                       // or a code list could not be read, or the gateway was released: check
                       // the link and the ignition, and run it again
    notConnected = 1,  // no connected sensor: connect first
    deviceBusy = 2,    // another operation holds the gateway: try again after it
};

// The case name.
std::string describe(SmogInfoError error);

}  // namespace qz
