#pragma once

#include <functional>
#include <memory>

#include "api/Live/SmogInfoError.hpp"
#include "api/Live/SmogInfoReport.hpp"
#include "platform/Result.hpp"

namespace qz {

// The emissions-readiness ("smog") check.
class PelkSmogDelegate {
  public:
    // The report (the caller owns it), or why the check did not run.
    using SmogListener =
        std::function<void(Result<std::shared_ptr<SmogInfoReport>, SmogInfoError>)>;

    virtual ~PelkSmogDelegate() = default;

    // Reads the malfunction lamp, the readiness monitors, five distance and time counters and
    // the numbers of stored and pending codes, and reports once. `deviceBusy` at once, on the
    // caller's thread, while another operation holds the gateway; otherwise on "GatewayQueue":
    // `notConnected` without a connected sensor, `setupFailed` when the sensor refused the
    // check's set-up or its end (a counter the vehicle does not give is left empty instead).
    // The listener may start further operations but must not wait for their results.
    virtual void requestSmogInfo(SmogListener listener) = 0;
};

}  // namespace qz
