#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Answers.hpp"
#include "api/Communication/CommError.hpp"
#include "api/Communication/PelkSensorState.hpp"

namespace qz {
class Gateway;
class PIDInfo;
}  // namespace qz

namespace qz::tools {

class DiagSession;

// How a connection went: an error text when it did not open or the sensor is in firmware
// recovery mode (it then takes no commands, and the command exits kRecovery).
struct Connection {
    std::optional<std::string> error;
    bool recovery = false;
    // The connection's states as the gateway reported them.
    std::shared_ptr<Answers<PelkSensorState>> states;

    // The exit status of a command that failed on this connection.
    int failed() const;
    // Whether the link closed before the command's own disconnect.
    bool dropped(Gateway& gateway) const;
};

// Connects to the first sensor in reach and waits for its start-up. A sensor in recovery mode
// is asked nothing more: it is disconnected at once, and the connection carries the error.
Connection connect(Gateway& gateway);
// Disconnects and lets "GatewayQueue" finish what it holds.
void disconnect(Gateway& gateway);

// Why requestVin gave `error`, in words: for invalidData the VIN is read once more, to tell a
// VIN that fails its check (and why) from none.
std::string vinFailure(Gateway& gateway, CommError error);

// A parameter's value for people: a number rounded to the resolution its scaling gives (47.5 %,
// not 47.450980392156865 %) with its unit; any other value as the library writes it.
std::string readableValue(const PIDInfo& pid);

// The live-data demo commands. Each connects to the simulated sensor through the gateway,
// runs its public calls, prints the outcome (one JSON document with `json`) and disconnects.
// Exit statuses: see ExitStatus.hpp.

// The VIN read through Mode 9 and checked, with model year, make and parent make.
int runVin(bool json, DiagSession& session);
// The supported parameters, or those of the listed PID numbers (hex), refreshed once each;
// fails when no value could be read (no vehicle, only unknown PIDs, every value invalid). With
// `json` each parameter carries its error (null when it was read).
int runLive(bool json, const std::vector<std::string>& pids, DiagSession& session);
// The emissions-readiness check: verdict, figures and code counts.
int runSmog(bool json, DiagSession& session);

}  // namespace qz::tools
