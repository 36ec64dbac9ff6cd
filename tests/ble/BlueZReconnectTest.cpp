// Connecting again while the last link is still closing, through BlueZ: BlueZ reports the end
// of a link only after its Disconnect has gone round, so the new connect must not take over
// the closing link.
#include <gtest/gtest.h>

#include <atomic>

#include "BleTestSupport.hpp"
#include "PrivateBus.hpp"
#include "api/Communication/PelkNotifications.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Gateway/Gateway.hpp"
#include "gateway/GatewayTestSupport.hpp"
#include "platform/FileSystem.hpp"
#include "platform/ble/BlueZCentral.hpp"
#include "sim/FakeBlueZ.hpp"

using namespace qz;
using namespace qz::bletest;

// The last link's end goes to its own listener; the new connect follows it, or, disconnected
// before it could start, hears that there is no link.
TEST(BlueZReconnect, AConnectRightAfterADisconnectFollowsTheEndOfTheLastLink) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address.empty()) << bus.error;
    auto fake = sim::FakeBlueZ::start(bus.address);
    auto module = sim::SimulatedBGX13::create(std::make_shared<sim::SensorCore>());
    fake->add(module);
    auto previous = setBleCentralFactory(BlueZCentral::factory({.busAddress = bus.address}));
    std::atomic<int> posted{0};
    auto token = NotificationCenter::defaultCenter().addObserver(
        PelkNotifications::SENSOR_DISCONNECTED, [&](const Notification&) { ++posted; });
    {
        ScopedHome home;
        ScopedClock clock(std::make_shared<ScaledClock>(0.05));
        auto gateway = Gateway::create();
        auto sensor = gwtest::listedSensor(*gateway);
        ASSERT_TRUE(sensor);
        const auto initialized = PelkSensorState::onSensorConnected(PelkSensorStatus::initialized);
        const auto disconnected = PelkSensorState::onSensorDisconnected();
        for (bool cancelled : {false, true}) {
            SCOPED_TRACE(cancelled ? "disconnected again at once" : "reconnected");
            gwtest::Received<PelkSensorState> first, second;
            gateway->connect(sensor, first.callback());
            ASSERT_TRUE(first.waitFor(1));
            EXPECT_EQ(first.at(0).value, initialized);
            posted = 0;

            gateway->disconnect();
            gateway->connect(sensor, second.callback());
            if (cancelled) gateway->disconnect();
            ASSERT_TRUE(first.waitFor(2));
            EXPECT_EQ(first.at(1).value, disconnected);
            ASSERT_TRUE(second.waitFor(1));
            EXPECT_EQ(second.at(0).value, cancelled ? disconnected : initialized);
            if (!cancelled) {
                auto relay = gateway->relay();
                Gateway::gatewayQueue()->sync(
                    [&] { EXPECT_EQ(relay->sendToSensor("KQI").value_or(""), "OSAPI 4.05\r>"); });
                gateway->disconnect();
                ASSERT_TRUE(second.waitFor(2));
                EXPECT_EQ(second.at(1).value, disconnected);
            }
            gwtest::drainQueues();
            EXPECT_EQ(first.size(), 2u);
            EXPECT_EQ(second.size(), cancelled ? 1u : 2u);
            if (!cancelled) EXPECT_EQ(posted.load(), 2);
        }
        gateway.reset();
        gwtest::drainQueues();
    }
    NotificationCenter::defaultCenter().removeObserver(token);
    fake->stop();
    setBleCentralFactory(previous);
}
