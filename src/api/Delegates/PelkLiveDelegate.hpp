#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "api/Communication/CommError.hpp"
#include "api/PIDs/PIDInfo.hpp"
#include "platform/Result.hpp"

namespace qz {

// Live data: Mode 1 parameters, the VIN.
class PelkLiveDelegate {
  public:
    using PIDCallback = std::function<void(Result<std::shared_ptr<PIDInfo>, CommError>)>;
    using PIDListCallback =
        std::function<void(Result<std::vector<std::shared_ptr<PIDInfo>>, CommError>)>;
    using SupportCallback = std::function<void(Result<bool, CommError>)>;
    using VinCallback = std::function<void(Result<std::string, CommError>)>;

    virtual ~PelkLiveDelegate() = default;

    // Reads the parameter's current value from the vehicle.
    virtual void updatePID(std::shared_ptr<PIDInfo> pid, PIDCallback callback) = 0;
    // The catalogue's parameters the vehicle supports.
    virtual void supportedPids(PIDListCallback callback) = 0;
    // Whether the vehicle reports its VIN.
    virtual void checkAutoVinSupport(SupportCallback callback) = 0;
    // The vehicle's VIN.
    virtual void requestVin(VinCallback callback) = 0;
};

}  // namespace qz
