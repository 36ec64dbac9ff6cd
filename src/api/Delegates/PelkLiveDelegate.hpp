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

// Live data: the supported Mode 1 parameters, their values, the odometer and the VIN. Each
// call reports once, through its callback.
class PelkLiveDelegate {
  public:
    using PIDListCallback =
        std::function<void(Result<std::vector<std::shared_ptr<PIDInfo>>, PelkError>)>;
    using PIDCallback = std::function<void(Result<std::shared_ptr<PIDInfo>, CommError>)>;
    using OdometerCallback = std::function<void(Result<std::shared_ptr<NumericPID>, CommError>)>;
    using SupportCallback = std::function<void(Result<bool, PelkError>)>;
    using VinCallback = std::function<void(Result<std::string, CommError>)>;

    virtual ~PelkLiveDelegate() = default;

    // The catalogue's parameters the vehicle supports (runs the support discovery).
    virtual void supportedPids(PIDListCallback callback) = 0;
    // Reads the parameter's current value from the vehicle.
    virtual void updatePID(std::shared_ptr<PIDInfo> pid, PIDCallback callback) = 0;
    // Every catalogue parameter, supported or not.
    virtual std::vector<std::shared_ptr<PIDInfo>> pids() = 0;
    // The odometer (Mode 1 PID A6), refreshed.
    virtual void requestOdometer(OdometerCallback callback) = 0;
    // Whether the vehicle reports its VIN.
    virtual void checkAutoVinSupport(SupportCallback callback) = 0;
    // The vehicle's VIN, checked.
    virtual void requestVin(VinCallback callback) = 0;
};

}  // namespace qz
