#include "api/Live/VehicleAccess.hpp"

#include "api/Communication/Relay.hpp"
#include "api/PIDs/PIDInfo.hpp"

#if __has_include("api/Communication/Vehicle.hpp")
#include "api/Communication/Vehicle.hpp"
#define QZ_LIVE_HAS_VEHICLE 1
#endif

namespace qz::vehicleaccess {

bool onCanBus(const std::shared_ptr<Vehicle>& vehicle) {
#ifdef QZ_LIVE_HAS_VEHICLE
    if (!vehicle) return false;
    switch (vehicle->activeMainBus()) {
        case BusProtocol::can11500:
        case BusProtocol::can29500:
        case BusProtocol::can11250:
        case BusProtocol::can29250:
            return true;
        default:
            return false;
    }
#else
    (void)vehicle;
    return false;
#endif
}

std::shared_ptr<Relay> relayOf(const std::shared_ptr<Vehicle>& vehicle) {
#ifdef QZ_LIVE_HAS_VEHICLE
    return vehicle ? vehicle->relay() : nullptr;
#else
    (void)vehicle;
    return nullptr;
#endif
}

Result<std::string, CommError> sendAndUpdate(const std::shared_ptr<Vehicle>& vehicle,
                                             const std::shared_ptr<PIDInfo>& pid,
                                             bool multipleResponses,
                                             MultiResponseStrategy strategy) {
#ifdef QZ_LIVE_HAS_VEHICLE
    if (!vehicle || !pid) return std::unexpected(CommError::noDelegate);
    return vehicle->sendAndUpdate(*pid, multipleResponses, strategy);
#else
    (void)vehicle;
    (void)pid;
    (void)multipleResponses;
    (void)strategy;
    return std::unexpected(CommError::noDelegate);
#endif
}

}  // namespace qz::vehicleaccess
