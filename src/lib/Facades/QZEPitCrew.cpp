#include "lib/Facades/QZEPitCrew.hpp"

#include "lib/Facades/QZEData.hpp"
#include "lib/Facades/QZEModal.hpp"
#include "lib/Facades/QZEModuleStatusManager.hpp"
#include "lib/Facades/QZEVehicle.hpp"
#include "lib/Logging/QZELogging.hpp"

namespace qz {

void QZEPitCrew::registerModuleStatusManager(std::shared_ptr<ModuleStatusManagerProtocol> manager) {
    QZEModuleStatusManager::manager().setImplementation(std::move(manager));
}
void QZEPitCrew::registerModalAdapter(std::shared_ptr<QZEIndicatorAdapter> adapter) {
    QZEModal::manager().registerAdapter(std::move(adapter));
}
void QZEPitCrew::registerVehicleCommuications(
    std::shared_ptr<QZVehicleCommunicationProtocol> comms) {
    QZEVehicle::TheVehicle().registerCommuications(std::move(comms));
}
void QZEPitCrew::registerVehicleSensorStateTracker(std::shared_ptr<QZSensorStateTracker> tracker) {
    QZEVehicle::TheVehicle().registerQZSensorStateTracker(std::move(tracker));
}
void QZEPitCrew::registerVehicleSensorTimeoutAdapter(
    std::shared_ptr<QZSensorTimeoutAdapter> adapter) {
    QZEVehicle::TheVehicle().registerQZSensorTimeoutAdapter(std::move(adapter));
}
void QZEPitCrew::registerQZDataAdapter(std::shared_ptr<QZDataAdapter> adapter) {
    QZEData::sharedData().registerQZDataAdapter(std::move(adapter));
}
void QZEPitCrew::registerSessionAdapter(std::shared_ptr<QZESessionProtocol> adapter) {
    QZEData::sharedData().registerSessionAdapter(std::move(adapter));
}
void QZEPitCrew::registerVinAdapter(std::shared_ptr<QZVINDataAdapter> adapter) {
    QZEData::sharedData().registerVinAdapter(std::move(adapter));
}
void QZEPitCrew::registerLoggingAdapter(std::shared_ptr<LoggerInterface> adapter) {
    QZELogging::shared().registerLoggerInterface(std::move(adapter));
}
void QZEPitCrew::registerVehicleStateInfoAdapter(std::shared_ptr<QZVehicleStateInfo> info) {
    QZEVehicle::TheVehicle().registerVehicleStateInfoAdapter(std::move(info));
}

}  // namespace qz
