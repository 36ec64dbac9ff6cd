#pragma once

#include <string>
#include <vector>

namespace qz::tools {

class DiagSession;

// The live-data demo commands. Each connects to the simulated sensor through the gateway,
// runs its public calls, prints the outcome (one JSON document with `json`) and disconnects.
// Exit codes: 0 done, 2 the library reported a failure.

// The VIN read through Mode 9 and checked, with model year, make and parent make.
int runVin(bool json, DiagSession& session);
// The supported parameters, or those of the listed PID numbers (hex), refreshed once each.
int runLive(bool json, const std::vector<std::string>& pids, DiagSession& session);
// The emissions-readiness check: verdict, figures and code counts.
int runSmog(bool json, DiagSession& session);

}  // namespace qz::tools
