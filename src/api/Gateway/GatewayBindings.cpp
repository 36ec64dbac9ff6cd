// The gateway's registrations with the engine and its analytics client.

#include "api/Communication/Vehicle.hpp"
#include "api/Data/PelkData.hpp"
#include "api/Gateway/Gateway.hpp"
#include "api/Logging/Log.hpp"
#include "api/Logging/LogBinder.hpp"

#if __has_include("api/Analytics/AnalyticsClient.hpp")
#include "api/Analytics/AnalyticsClient.hpp"
#define QZ_GATEWAY_HAS_ANALYTICS 1
#endif

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
#ifdef QZ_GATEWAY_HAS_ANALYTICS
    auto container = persistentContainer();
    std::lock_guard lock(lazyMutex_);
    if (!analyticsClient_) {
        std::weak_ptr<Vehicle> vehicle = vehicle_;
        auto info = [vehicle] {
            AnalyticsVehicleInfo result;
            if (auto v = vehicle.lock()) {
                result.busProtocol = v->obd2ProtocolString().value_or("UNKNOWN");
                result.sensorVersion = v->activeSensorVersion();
            }
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
