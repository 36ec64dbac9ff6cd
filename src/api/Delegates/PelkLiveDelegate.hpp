#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "api/Communication/CommError.hpp"
#include "api/Communication/PelkError.hpp"
#include "api/PIDs/NumericPID.hpp"
#include "api/PIDs/PIDInfo.hpp"
#include "platform/Result.hpp"

namespace qz {

// Live data: the Mode 1 parameters the vehicle supports, their values, the odometer and the
// VIN. Each call does one piece of work and reports once, through its callback.
//
// Threads: a call refused because another operation holds the gateway (scan, clear, smog
// check, live read) reports `deviceBusy` at once, on the caller's thread, before it returns.
// Otherwise the work runs on the serial queue "GatewayQueue" and the callback runs there. A
// callback may start further operations (they queue behind it), but must not wait for their
// results: that would hold "GatewayQueue" and never end. Without a connected sensor a call
// reports `notConnected`; a gateway released before its work ran reports `noDelegate`
// (CommError) or `callbackDeallocated` (PelkError).
class PelkLiveDelegate {
  public:
    // Each receives the call's value or its error.
    using PIDListCallback =
        std::function<void(Result<std::vector<std::shared_ptr<PIDInfo>>, PelkError>)>;
    using PIDCallback = std::function<void(Result<std::shared_ptr<PIDInfo>, CommError>)>;
    using OdometerCallback = std::function<void(Result<std::shared_ptr<NumericPID>, CommError>)>;
    using SupportCallback = std::function<void(Result<bool, PelkError>)>;
    using VinCallback = std::function<void(Result<std::string, CommError>)>;

    virtual ~PelkLiveDelegate() = default;

    // Asks the vehicle which parameters it supports, marks the catalogue's objects supported
    // or unsupported, and hands over the supported ones (the objects of pids(), which later
    // refreshes update in place). Fails with `initialization` when the vehicle does not answer
    // the support requests, or the sensor does not take their set-up (the public log line
    // "Supported PIDs not read: ..." names it). Run it once per vehicle before updatePID.
    virtual void supportedPids(PIDListCallback callback) = 0;
    // Reads `pid`'s current value from the vehicle: one request, whose answer refreshes every
    // supported catalogue object of that PID number (several values may share one). The
    // callback gets `pid` back; read its value() or valueAsText(). `invalidData` when the
    // answer holds no usable bytes (the vehicle does not give that value), `timedOut` when the
    // sensor did not answer.
    virtual void updatePID(std::shared_ptr<PIDInfo> pid, PIDCallback callback) = 0;
    // Every catalogue parameter, supported or not, returned directly (no sensor work).
    virtual std::vector<std::shared_ptr<PIDInfo>> pids() = 0;
    // The odometer (PID A6), after a supported-parameter walk and a refresh; `unsupported` when
    // the vehicle does not give it. Never refused at the call: a busy gateway reports
    // `deviceBusy` later, on "GatewayQueue", like every result of this call.
    virtual void requestOdometer(OdometerCallback callback) = 0;
    // Whether the vehicle reports its VIN (Mode 9). On a CAN bus (as the last start-up found
    // it) true at once, on the caller's thread, without asking the vehicle.
    virtual void checkAutoVinSupport(SupportCallback callback) = 0;
    // The VIN the vehicle reports, checked (17 characters, no I, O or Q, the check digit of
    // North American VINs); `invalidData` when it does not pass the check.
    virtual void requestVin(VinCallback callback) = 0;
};

}  // namespace qz
