#pragma once

#include <string>

namespace qz {

// The error of the emissions-readiness check.
enum class SmogInfoError { setupFailed = 0, notConnected = 1, deviceBusy = 2 };

// The case name.
std::string describe(SmogInfoError error);

}  // namespace qz
