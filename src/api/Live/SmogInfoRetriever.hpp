#pragma once

#include <memory>
#include <string>
#include <vector>

#include "api/Live/SmogInfoError.hpp"
#include "api/Live/SmogInfoReport.hpp"
#include "platform/Result.hpp"

namespace qz {

class Vehicle;

// Runs the exchanges of one emissions-readiness check, synchronously, on the caller's thread
// (the gateway's queue): "KQX1", the support walk, the report's six parameters, "KQTC",
// "KQTCP", "KQX0". A verdict comes only from what was read: a failed walk (no vehicle), a
// monitor status (01 01) not read, or a code list not read ("KQTC"/"KQTCP" failed, "?", an
// error word) is `setupFailed`, after "KQX0"; so is a set-up command ("KQX1", "KQX0") the
// sensor did not answer or refused. A link that drops ends the check there, with nothing more
// sent: `notConnected`. failures() says what failed.
class SmogInfoRetriever {
  public:
    explicit SmogInfoRetriever(std::shared_ptr<Vehicle> vehicle) : vehicle_(std::move(vehicle)) {}

    Result<std::shared_ptr<SmogInfoReport>, SmogInfoError> retrieveSmogStatus();

    // Lines of a code list ("KQTC"/"KQTCP" reply) that hold a trouble code.
    static int64_t countCodeLines(const std::string& reply);

    // What kept the last check from a verdict, in words, in the order met: "the vehicle did not
    // answer 0100 (no vehicle, or its ignition is off)". Empty after a verdict.
    const std::vector<std::string>& failures() const { return failures_; }

  private:
    void fail(std::string cause);
    // Sends a set-up command; whether the sensor took it ("OK").
    bool setUp(const char* command);
    // Whether the link to the sensor is gone; said once, as what kept the check from a verdict.
    bool linkDropped();

    std::shared_ptr<Vehicle> vehicle_;
    std::vector<std::string> failures_;
    bool dropped_ = false;
};

}  // namespace qz
