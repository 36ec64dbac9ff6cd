#pragma once

#include <string>
#include <vector>

namespace qz::tools {

class DiagSession;

// `qzdiag scan [cel|com|all]` (default all): connects, reads the VIN, runs the scan and prints
// each module with its codes, statuses and descriptions (`json`: one object with "scanType",
// "vin", "make", "result" and "modules"). On a terminal a progress bar goes to standard error;
// an interaction is answered by printing its message and going on.
// Exit codes: 0 complete, 2 the scan failed, 64 bad arguments.
int runScan(bool json, const std::vector<std::string>& args, DiagSession& session);

// `qzdiag clear ACRONYM [scan [cel|com|all]]`: scans (all), clears the module with that acronym
// ("OBD": the generic codes) and prints whether it cleared (`json`: {"acronym", "cleared"});
// with `scan`, a second scan in the same run then shows the vehicle after the clear.
// Exit codes: 0 cleared, 2 the scan or the clear failed, 64 bad arguments.
int runClear(bool json, const std::vector<std::string>& args, DiagSession& session);

}  // namespace qz::tools
