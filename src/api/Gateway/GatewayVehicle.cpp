// The gateway's ties to the vehicle adapter, the settings store and the analytics client.

#include "api/Communication/Relay.hpp"
#include "api/Gateway/Gateway.hpp"
#include "api/Logging/Log.hpp"
#include "api/Logging/LogBinder.hpp"

#if __has_include("api/Communication/Vehicle.hpp")
#include "api/Communication/Vehicle.hpp"
#define QZ_GATEWAY_HAS_VEHICLE 1
#endif
#if __has_include("api/Data/PelkData.hpp")
#include "api/Data/PelkData.hpp"
#define QZ_GATEWAY_HAS_PELKDATA 1
#endif
#if __has_include("api/Analytics/AnalyticsClient.hpp")
#include "api/Analytics/AnalyticsClient.hpp"
#define QZ_GATEWAY_HAS_ANALYTICS 1
#endif

namespace qz {

std::shared_ptr<Vehicle> Gateway::makeVehicle() {
#ifdef QZ_GATEWAY_HAS_VEHICLE
    return std::make_shared<Vehicle>();
#else
    return nullptr;
#endif
}

void Gateway::wireVehicle() {
#ifdef QZ_GATEWAY_HAS_VEHICLE
    vehicle_->setRelay(relay_);
#endif
}

void Gateway::bindData() {
    auto& crew = *binder_.pitCrew;
#ifdef QZ_GATEWAY_HAS_VEHICLE
    binder_.sessionProtocol = vehicle_;
    crew.registerSessionAdapter(binder_.sessionProtocol);
    binder_.vehicleStateInfo = vehicle_;
    crew.registerVehicleStateInfoAdapter(binder_.vehicleStateInfo);
    binder_.vehicleCommunicationProtocol = vehicle_;
    crew.registerVehicleCommuications(binder_.vehicleCommunicationProtocol);
    binder_.sensorStateTracker = vehicle_;
    crew.registerVehicleSensorStateTracker(binder_.sensorStateTracker);
#endif
#ifdef QZ_GATEWAY_HAS_PELKDATA
    binder_.dataAdapter = PelkData::shared();
    crew.registerQZDataAdapter(binder_.dataAdapter);
    binder_.vinDataAdapter = PelkData::shared();
    crew.registerVinAdapter(binder_.vinDataAdapter);
#endif
    binder_.loggerInterface = std::make_shared<LogBinder>();
    crew.registerLoggingAdapter(binder_.loggerInterface);
}

bool Gateway::initializeVehicle() {
#ifdef QZ_GATEWAY_HAS_VEHICLE
    return vehicle_->initializeVehicle();
#else
    return false;
#endif
}

bool Gateway::checkIfInRecoveryMode() {
#ifdef QZ_GATEWAY_HAS_VEHICLE
    return vehicle_->checkIfInRecoveryMode();
#else
    return false;
#endif
}

void Gateway::setStoredRecoveryFlag(bool value) {
#ifdef QZ_GATEWAY_HAS_PELKDATA
    PelkData::shared()->setInRecoveryMode(value);
#endif
}

int64_t Gateway::storedSensorVersionNumber() {
#ifdef QZ_GATEWAY_HAS_PELKDATA
    return PelkData::shared()->sensorVersionNumber();
#else
    return 0;
#endif
}

std::optional<std::string> Gateway::currentVin() const {
#ifdef QZ_GATEWAY_HAS_VEHICLE
    return vehicle_->currentVin();
#else
    return std::nullopt;
#endif
}

std::shared_ptr<AnalyticsClient> Gateway::analyticsClient() {
#ifdef QZ_GATEWAY_HAS_ANALYTICS
    auto container = persistentContainer();
    std::lock_guard lock(lazyMutex_);
    if (!analyticsClient_) {
        std::weak_ptr<Vehicle> vehicle = vehicle_;
        auto info = [vehicle] {
            AnalyticsVehicleInfo result;
#ifdef QZ_GATEWAY_HAS_VEHICLE
            if (auto v = vehicle.lock()) {
                result.busProtocol = v->obd2ProtocolString();
                result.sensorVersion = v->activeSensorVersion();
            }
#endif
            return result;
        };
        analyticsClient_ = std::make_shared<AnalyticsClient>(info, container, api_);
    }
    return analyticsClient_;
#else
    return nullptr;
#endif
}

void Gateway::processCachedEvents() {
#ifdef QZ_GATEWAY_HAS_ANALYTICS
    if (auto client = analyticsClient()) client->processCachedEvents();
#endif
}

}  // namespace qz
