// The live-data family. The vehicle work is not wired yet: each operation refuses while
// another holds the busy flag and otherwise answers, from "GatewayQueue", that no initialised
// sensor is connected.

#include "api/Gateway/Gateway.hpp"
#include "api/Logging/Log.hpp"
#include "platform/Describe.hpp"

namespace qz {

void Gateway::updatePID(std::shared_ptr<PIDInfo> pid, PIDCallback callback) {
    Log::PublicFuncCall({"pid: " + logText(pid), "callback: " + describe(callback)});
    if (isBusy()) {
        Log::e("Could not update PID, device is busy");
        if (callback) callback(std::unexpected(CommError::deviceBusy));
        return;
    }
    gatewayQueue()->async([callback] {
        if (callback) callback(std::unexpected(CommError::notConnected));
    });
}

void Gateway::supportedPids(PIDListCallback callback) {
    Log::PublicFuncCall({"callback: " + describe(callback)});
    if (isBusy()) {
        Log::e("Could not get supported PIDs, device is busy");
        if (callback) callback(std::unexpected(CommError::deviceBusy));
        return;
    }
    gatewayQueue()->async([callback] {
        if (callback) callback(std::unexpected(CommError::notConnected));
    });
}

void Gateway::checkAutoVinSupport(SupportCallback callback) {
    Log::PublicFuncCall({"callback: " + describe(callback)});
    if (isBusy()) {
        Log::e("Could not check VIN support, device is busy");
        if (callback) callback(std::unexpected(CommError::deviceBusy));
        return;
    }
    gatewayQueue()->async([callback] {
        if (callback) callback(std::unexpected(CommError::notConnected));
    });
}

void Gateway::requestVin(VinCallback callback) {
    Log::PublicFuncCall({"callback: " + describe(callback)});
    if (isBusy()) {
        Log::e("Could not request VIN, device is busy");
        if (callback) callback(std::unexpected(CommError::deviceBusy));
        return;
    }
    gatewayQueue()->async([callback] {
        if (callback) callback(std::unexpected(CommError::notConnected));
    });
}

}  // namespace qz
