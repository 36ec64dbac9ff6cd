#pragma once

#include <string>

namespace qz {

// The verdict of the emissions-readiness check: fail (the malfunction lamp is on or a code is
// stored), warning (a pending code, or a readiness monitor not complete: an inspection would
// not pass yet), pass. The check never gives `incomplete`.
enum class SmogReportStatus { pass, fail, warning, incomplete };

// The case name.
std::string describe(SmogReportStatus status);

}  // namespace qz
