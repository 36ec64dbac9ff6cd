#pragma once

#include <memory>

#include "lib/Facades/QZEAdapters.hpp"
#include "lib/Logging/LoggerInterface.hpp"

namespace qz {

// The engine's adapter registry: each registration goes to its facade. A later
// registration replaces an earlier one.
class QZEPitCrew {
  public:
    void registerModuleStatusManager(std::shared_ptr<ModuleStatusManagerProtocol> manager);
    void registerModalAdapter(std::shared_ptr<QZEIndicatorAdapter> adapter);
    void registerVehicleCommuications(std::shared_ptr<QZVehicleCommunicationProtocol> comms);
    void registerVehicleSensorStateTracker(std::shared_ptr<QZSensorStateTracker> tracker);
    void registerVehicleSensorTimeoutAdapter(std::shared_ptr<QZSensorTimeoutAdapter> adapter);
    void registerQZDataAdapter(std::shared_ptr<QZDataAdapter> adapter);
    void registerSessionAdapter(std::shared_ptr<QZESessionProtocol> adapter);
    void registerVinAdapter(std::shared_ptr<QZVINDataAdapter> adapter);
    void registerLoggingAdapter(std::shared_ptr<LoggerInterface> adapter);
    void registerVehicleStateInfoAdapter(std::shared_ptr<QZVehicleStateInfo> info);
};

}  // namespace qz
