// The gateway's registrations with the engine and its analytics client.

#include "api/Analytics/AnalyticsClient.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/Data/PelkData.hpp"
#include "api/Gateway/Gateway.hpp"
#include "api/Logging/Log.hpp"
#include "api/Logging/LogBinder.hpp"

namespace qz {

void Gateway::bindData() {
    auto& crew = *binder_.pitCrew;
    binder_.sessionProtocol = vehicle_;
    crew.registerSessionAdapter(binder_.sessionProtocol);
    binder_.vehicleStateInfo = vehicle_;
    crew.registerVehicleStateInfoAdapter(binder_.vehicleStateInfo);
    binder_.vehicleCommunicationProtocol = vehicle_;
    crew.registerVehicleCommuications(binder_.vehicleCommunicationProtocol);
    binder_.sensorStateTracker = vehicle_;
    crew.registerVehicleSensorStateTracker(binder_.sensorStateTracker);
    binder_.dataAdapter = PelkData::shared();
    crew.registerQZDataAdapter(binder_.dataAdapter);
    binder_.vinDataAdapter = PelkData::shared();
    crew.registerVinAdapter(binder_.vinDataAdapter);
    binder_.loggerInterface = std::make_shared<LogBinder>();
    crew.registerLoggingAdapter(binder_.loggerInterface);
}

std::shared_ptr<AnalyticsClient> Gateway::analyticsClient() {
    auto container = persistentContainer();
    std::lock_guard lock(lazyMutex_);
    if (!analyticsClient_)
        analyticsClient_ = std::make_shared<AnalyticsClient>(vehicle_, container);
    return analyticsClient_;
}

void Gateway::processCachedEvents() {
    analyticsClient()->processCachedEvents();
}

}  // namespace qz
