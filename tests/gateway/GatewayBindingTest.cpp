// bindData(): the facade's adapters reach the engine's facades through the registry.

#include <gtest/gtest.h>

#include "GatewayTestSupport.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/Data/PelkData.hpp"
#include "lib/Logging/QZELogging.hpp"

using namespace qz;
using namespace qz::gwtest;

TEST_F(GatewayTest, RegistersItsAdaptersWithTheEngine) {
    auto gateway = Gateway::create();
    auto& binder = gateway->binder();
    EXPECT_EQ(QZELogging::shared().adapter(), binder.loggerInterface);
    EXPECT_EQ(binder.vehicleCommunicationProtocol.get(),
              static_cast<QZVehicleCommunicationProtocol*>(gateway->vehicle().get()));
    EXPECT_EQ(binder.sessionProtocol.get(),
              static_cast<QZESessionProtocol*>(gateway->vehicle().get()));
    EXPECT_EQ(binder.vehicleStateInfo.get(),
              static_cast<QZVehicleStateInfo*>(gateway->vehicle().get()));
    EXPECT_EQ(binder.sensorStateTracker.get(),
              static_cast<QZSensorStateTracker*>(gateway->vehicle().get()));
    EXPECT_EQ(binder.vinDataAdapter.get(),
              static_cast<QZVINDataAdapter*>(PelkData::shared().get()));
    EXPECT_EQ(binder.dataAdapter.get(), static_cast<QZDataAdapter*>(PelkData::shared().get()));
}

TEST_F(GatewayTest, ASecondGatewayTakesOverTheRegistrations) {
    auto first = Gateway::create();
    auto second = Gateway::create();
    EXPECT_EQ(QZELogging::shared().adapter(), second->binder().loggerInterface);
    EXPECT_NE(first->binder().loggerInterface, second->binder().loggerInterface);
}
