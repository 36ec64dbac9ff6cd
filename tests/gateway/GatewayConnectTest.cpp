// The connect flow end to end: Gateway -> SessionController -> MFi session -> simulated
// accessory -> simulated sensor.

#include <gtest/gtest.h>

#include "SimulatedSensorTest.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/Data/PelkData.hpp"
#include "platform/UserDefaults.hpp"
#include "sim/SimulatedAccessory.hpp"
#include "sim/VehicleProfile.hpp"

using namespace qz;
using namespace qz::gwtest;
using qz::sim::Fault;
using qz::sim::SensorCore;
using qz::sim::SimulatedAccessory;
using qz::sim::VehicleProfile;

namespace {

class GatewayConnectTest : public SimulatedSensorTest {
  protected:
    GatewayConnectTest() { gateway = Gateway::create(); }
    std::shared_ptr<PelkSensor> sensor() {
        auto devices = gateway->connectedDevices();
        EXPECT_EQ(devices.size(), 1u);
        return devices.empty() ? nullptr : devices.front();
    }
    size_t sent(const std::string& command) const {
        size_t n = 0;
        for (auto& c : core->commands()) n += c == command;
        return n;
    }
};

}  // namespace

// The app's main queue, which hands the sensor's replies over, held past the relay's wait while
// the version is asked: the reply is no later for it.
TEST_F(GatewayConnectTest, StartsTheSensorUpAndReportsOnTheMainQueue) {
    plugIn();
    holdMainQueueAt([](const std::string& command) { return command == "KQI"; });
    PelkData::shared()->setInRecoveryMode(true);
    auto s = sensor();
    ASSERT_TRUE(s);
    Received<PelkSensorState> states;
    gateway->connect(s, states.callback());
    ASSERT_TRUE(states.waitFor(1));
    drainQueues();
    auto first = states.at(0);
    EXPECT_TRUE(first.onMain);
    EXPECT_EQ(gateway->status(), SensorConnectionStatus::connected);
    EXPECT_EQ(gateway->sensorListener() != nullptr, true);
    EXPECT_EQ(first.value, PelkSensorState::onSensorConnected(PelkSensorStatus::initialized));
    EXPECT_TRUE(s->isIntialized());
    EXPECT_EQ(lines->endingWith(" -> Initialized sensor").size(), 1u);
    EXPECT_EQ(sent("KQD"), 1u);
    EXPECT_EQ(sent("KQI"), 1u);
    EXPECT_EQ(sent("KQDP"), 1u);
    EXPECT_FLOAT_EQ(gateway->sensorVersion(), 4.05f);
    EXPECT_EQ(PelkData::shared()->prefs()->object("inRecovery"), false)
        << "a successful start-up clears the recovery flag";
    EXPECT_EQ(lines->containing("Attempting to connect"), 0u);

    gateway->disconnect();
    ASSERT_TRUE(states.waitFor(2));
    EXPECT_EQ(states.at(1).value, PelkSensorState::onSensorDisconnected());
    EXPECT_TRUE(states.at(1).onMain);
    EXPECT_EQ(gateway->status(), SensorConnectionStatus::disconnected);
    EXPECT_EQ(lines->endingWith(" -> Sensor :" + s->description() + " disconnected").size(), 1u);
}

TEST_F(GatewayConnectTest, ASensorInRecoveryIsRecognised) {
    plugIn(VehicleProfile::load(VehicleProfile::sampleFolder() / "recovery.json"));
    PelkData::shared()->setInRecoveryMode(true);
    auto s = sensor();
    ASSERT_TRUE(s);
    Received<PelkSensorState> states;
    gateway->connect(s, states.callback());
    ASSERT_TRUE(states.waitFor(1));
    EXPECT_EQ(states.at(0).value,
              PelkSensorState::onSensorConnected(PelkSensorStatus::recoveryMode));
    EXPECT_EQ(lines->endingWith(" -> Failed to initialize: Sensor is in recovery mode").size(), 1u);
    EXPECT_FALSE(s->isIntialized());
    EXPECT_TRUE(states.at(0).onMain);
    drainQueues();
    EXPECT_EQ(PelkData::shared()->prefs()->object("inRecovery"), true);
}

TEST_F(GatewayConnectTest, ASilentSensorFailsToInitialize) {
    plugIn();
    core->addFault(Fault::silence(1000));
    auto s = sensor();
    ASSERT_TRUE(s);
    Received<PelkSensorState> states;
    gateway->connect(s, states.callback());
    ASSERT_TRUE(states.waitFor(1));
    EXPECT_EQ(states.at(0).value,
              PelkSensorState::onSensorConnected(PelkSensorStatus::initializationFailed));
    EXPECT_EQ(lines->endingWith(" -> Failed to initialize: Sensor failed to initialize").size(),
              1u);
    EXPECT_FALSE(s->isIntialized());
}

TEST_F(GatewayConnectTest, AReconnectReplacesTheListener) {
    plugIn();
    auto s = sensor();
    ASSERT_TRUE(s);
    Received<PelkSensorState> first;
    gateway->connect(s, first.callback());
    ASSERT_TRUE(first.waitFor(1));
    gateway->disconnect();
    ASSERT_TRUE(first.waitFor(2));

    Received<PelkSensorState> second;
    gateway->connect(s, second.callback());
    ASSERT_TRUE(second.waitFor(1));
    EXPECT_EQ(second.at(0).value.kind(), PelkSensorState::Kind::onSensorConnected);
    drainQueues();
    EXPECT_EQ(first.size(), 2u);
}
