// Connecting again while the last link is still closing, through BlueZ: BlueZ reports the end
// of a link only after its Disconnect has gone round, so the new connect must not take over
// the closing link. And a gateway released with its link up takes the link with it: BlueZ
// would keep it up for nobody, and a new gateway could not use the sensor.
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

// Options name only the fields they set (`{.adapter = "hci1"}`); the others keep their
// defaults. GCC flags each such option as missing its initializers: not a fault here.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

using namespace qz;
using namespace qz::bletest;

// The last link's end goes to its own listener; the new connect follows it, or, disconnected
// before it could start, hears that there is no link. A new gateway connects once the last one
// was released without a disconnect, its link up or its connect unanswered.
TEST(BlueZReconnect, AConnectRightAfterADisconnectFollowsTheEndOfTheLastLink) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address.empty()) << bus.error;
    auto fake = sim::FakeBlueZ::start(bus.address);
    auto module = sim::SimulatedBGX13::create(std::make_shared<sim::SensorCore>());
    fake->add(module);
    auto previous = setBleCentralFactory(BlueZCentral::factory({.busAddress = bus.address}));
    std::atomic<int> posted{0};
    ScopedObserver observer(PelkNotifications::SENSOR_DISCONNECTED,
                            [&](const Notification&) { ++posted; });
    {
        ScopedHome home;
        ScopedClock clock(std::make_shared<ScaledClock>(0.05));
        auto gateway = Gateway::create();
        auto sensor = gwtest::listedSensor(*gateway);
        ASSERT_TRUE(sensor);
        const auto initialized = PelkSensorState::onSensorConnected(PelkSensorStatus::initialized);
        const auto disconnected = PelkSensorState::onSensorDisconnected();
        enum class Way { reconnected, cancelled, released };
        for (Way way : {Way::reconnected, Way::cancelled, Way::released}) {
            const bool cancelled = way == Way::cancelled, released = way == Way::released;
            SCOPED_TRACE(cancelled  ? "disconnected again at once"
                         : released ? "released with its link up"
                                    : "reconnected");
            gwtest::Received<PelkSensorState> first, second;
            gateway->connect(sensor, first.callback());
            ASSERT_TRUE(first.waitFor(1));
            EXPECT_EQ(first.at(0).value, initialized);
            posted = 0;

            if (released) {
                gateway.reset();
                gwtest::drainQueues();  // gone once the work it queued has run
                gateway = Gateway::create();
                sensor = gwtest::listedSensor(*gateway);
                ASSERT_TRUE(sensor);
                gateway->connect(sensor, second.callback());
            } else {
                // BlueZ is busy until these calls are made: the last link is still closing when
                // the new connect, and its disconnect, come.
                auto busy = fake->hold();
                gateway->disconnect();
                gateway->connect(sensor, second.callback());
                if (cancelled) gateway->disconnect();
            }
            if (!released) {
                ASSERT_TRUE(first.waitFor(2));
                EXPECT_EQ(first.at(1).value, disconnected);
            }
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
            EXPECT_EQ(first.size(), released ? 1u : 2u);
            EXPECT_EQ(second.size(), cancelled ? 1u : 2u);
            if (way == Way::reconnected) {
                EXPECT_EQ(posted.load(), 2);
            }
        }
        // Released while its connect is still unanswered: the attempt goes with it too.
        module->setConnectAnswer(sim::SimulatedBGX13::ConnectAnswer::silent);
        gwtest::Received<PelkSensorState> unanswered, next;
        const int calls = fake->connectCalls();
        gateway->connect(sensor, unanswered.callback());
        ASSERT_TRUE(eventually([&] { return fake->connectCalls() == calls + 1; }));
        gateway.reset();
        gwtest::drainQueues();
        module->setConnectAnswer(sim::SimulatedBGX13::ConnectAnswer::accept);
        gateway = Gateway::create();
        sensor = gwtest::listedSensor(*gateway);
        ASSERT_TRUE(sensor);
        gateway->connect(sensor, next.callback());
        ASSERT_TRUE(next.waitFor(1));
        EXPECT_EQ(next.at(0).value, initialized);
        EXPECT_EQ(unanswered.size(), 0u);
        gateway.reset();
        gwtest::drainQueues();
    }
    fake->stop();
    setBleCentralFactory(previous);
}
