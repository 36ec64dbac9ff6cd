#pragma once

#include <memory>
#include <string>

#include "api/Live/SmogInfoError.hpp"
#include "api/Live/SmogInfoReport.hpp"
#include "platform/Result.hpp"

namespace qz {

class Vehicle;

// Runs the exchanges of one emissions-readiness check, synchronously, on the caller's thread
// (the gateway's queue): "KQX1", the support walk, the report's six parameters, "KQTC",
// "KQTCP", "KQX0". A verdict comes only from what was read: a failed walk (no vehicle), a
// monitor status (01 01) not read, or a code list not read ("KQTC"/"KQTCP" failed, "?", an
// error word) is `setupFailed`, after "KQX0".
class SmogInfoRetriever {
  public:
    explicit SmogInfoRetriever(std::shared_ptr<Vehicle> vehicle) : vehicle_(std::move(vehicle)) {}

    Result<std::shared_ptr<SmogInfoReport>, SmogInfoError> retrieveSmogStatus();

    // Lines of a code list ("KQTC"/"KQTCP" reply) that hold a trouble code.
    static int64_t countCodeLines(const std::string& reply);

  private:
    std::shared_ptr<Vehicle> vehicle_;
};

}  // namespace qz
