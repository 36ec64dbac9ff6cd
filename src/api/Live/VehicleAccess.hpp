#pragma once

#include <memory>
#include <string>

#include "api/Communication/CommError.hpp"
#include "api/PIDs/Enums/MultiResponseStrategy.hpp"
#include "platform/Result.hpp"

namespace qz {

class PIDInfo;
class Relay;
class Vehicle;

// What the live-data and readiness code reads of the vehicle state, in one place.
namespace vehicleaccess {

// The vehicle's active bus is one of the four CAN buses (false without a vehicle).
bool onCanBus(const std::shared_ptr<Vehicle>& vehicle);

// The vehicle's relay (none without a vehicle).
std::shared_ptr<Relay> relayOf(const std::shared_ptr<Vehicle>& vehicle);

// Vehicle::sendAndUpdate: requests the parameter and hands the answer to its setData.
Result<std::string, CommError> sendAndUpdate(const std::shared_ptr<Vehicle>& vehicle,
                                             const std::shared_ptr<PIDInfo>& pid,
                                             bool multipleResponses,
                                             MultiResponseStrategy strategy);

}  // namespace vehicleaccess
}  // namespace qz
