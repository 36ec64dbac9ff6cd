#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qz {
class Gateway;
}

namespace qz::tools {

class DiagSession;

// Connects to the first sensor in reach and waits for its start-up; an error text on failure.
std::optional<std::string> connect(Gateway& gateway);
// Disconnects and lets "GatewayQueue" finish what it holds.
void disconnect(Gateway& gateway);

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
