#pragma once

#include <string>

namespace qz {

// The verdict of the emissions-readiness check (the check never gives `incomplete`).
enum class SmogReportStatus { pass, fail, warning, incomplete };

// The case name.
std::string describe(SmogReportStatus status);

}  // namespace qz
