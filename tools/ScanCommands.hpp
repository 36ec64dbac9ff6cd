#pragma once

#include <string>
#include <vector>

namespace qz::tools {

class DiagSession;

// `qzdiag scan [cel|com|all]` (default all): connects, reads the VIN, runs the scan and prints
// each module with its codes, statuses and descriptions (`json`: one object with "scanType",
// "vin", "make", "result" and "modules"). On a terminal a progress bar goes to standard error;
// an interaction is answered by printing its message and going on.
// Exit statuses (ExitStatus.hpp): success when the scan completed.
int runScan(bool json, const std::vector<std::string>& args, DiagSession& session);

// `qzdiag clear ACRONYM [scan [cel|com|all]]`: scans (all), clears the module with that acronym
// in any letter case ("OBD": the generic codes) and prints whether it cleared; when no module
// matches, it names the acronyms the scan found. With `scan`, a second scan in the same run then
// shows the vehicle after the clear. `json`: one document, {"acronym", "cleared"}, with "error"
// (and "found", the acronyms found) when it did not clear and "scan" (the second scan's object)
// with `scan`.
// Exit statuses (ExitStatus.hpp): success when the module cleared (and the second scan
// completed).
int runClear(bool json, const std::vector<std::string>& args, DiagSession& session);

}  // namespace qz::tools
