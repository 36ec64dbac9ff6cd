#pragma once

#include <string>
#include <vector>

namespace qz::tools {

class DiagSession;

// `qzdiag scan [cel|com|all]` (default all): connects, reads the VIN, runs the scan and prints
// each module, numbered by its position (@1, @2, ...), with its codes, statuses and
// descriptions (`json`: one object with "scanType", "vin", "make", "result" and "modules", each
// with its "position"; "error" when it did not complete). On a terminal a progress bar goes to
// standard error; an interaction is answered by printing its message and going on. A scan that
// did not complete says why in words: what the engine's log or the link told, and the modules
// read ("result" keeps the library's case name).
// The units shown (name, acronym, identifiers and line) are kept in the home folder, readable by
// the user alone, for a later `clear @N`; when they cannot be kept it says so on standard error
// and leaves no record of an earlier scan.
// Exit statuses (ExitStatus.hpp): success when the scan completed.
int runScan(bool json, const std::vector<std::string>& args, DiagSession& session);

// `qzdiag clear MODULE [scan [cel|com|all]]`: scans, clears the module named by MODULE and
// prints whether it cleared. MODULE is "@N" (the unit at that position of the last scan shown,
// kept in the home folder: the scan is of that scan's kind, and the unit is cleared only while
// this scan has that very unit there; "@" without a position is a usage error, and a record
// that cannot be read clears nothing), or the module's acronym or name in any letter case
// ("OBD": the generic codes) after a full scan; a name that fits several modules clears none
// and lists them, and one that fits none names the acronyms the scan found. With `scan`, a
// second scan in the same run then shows the vehicle after the clear. `json`: one document,
// {"acronym", "cleared"} ({"position", "cleared"} for "@N") with the module's "name", "acronym"
// and "position" once chosen, "error" (and "choices" or "found") when it did not clear and
// "scan" (the second scan's object) with `scan`.
// Exit statuses (ExitStatus.hpp): success when the module cleared (and the second scan
// completed).
int runClear(bool json, const std::vector<std::string>& args, DiagSession& session);

}  // namespace qz::tools
