#pragma once

#include <memory>

#include "lib/Facades/QZEAdapters.hpp"
#include "lib/Facades/QZEPitCrew.hpp"
#include "lib/Logging/LoggerInterface.hpp"

namespace qz {

// Keeps the engine registry and the adapters the gateway registers with it alive. The
// module-status, indicator and sensor-time-out slots are left to the host app.
class Binder {
  public:
    std::shared_ptr<QZEPitCrew> pitCrew = std::make_shared<QZEPitCrew>();
    std::shared_ptr<ModuleStatusManagerProtocol> moduleStatusManagerProtocol;
    std::shared_ptr<QZEIndicatorAdapter> indicatorAdapter;
    std::shared_ptr<QZVehicleCommunicationProtocol> vehicleCommunicationProtocol;
    std::shared_ptr<QZSensorStateTracker> sensorStateTracker;
    std::shared_ptr<QZSensorTimeoutAdapter> sensorTimeoutAdapter;
    std::shared_ptr<QZESessionProtocol> sessionProtocol;
    std::shared_ptr<QZVINDataAdapter> vinDataAdapter;
    std::shared_ptr<QZVehicleStateInfo> vehicleStateInfo;
    std::shared_ptr<LoggerInterface> loggerInterface;
    std::shared_ptr<QZDataAdapter> dataAdapter;
};

}  // namespace qz
