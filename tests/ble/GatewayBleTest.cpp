// The gateway over Bluetooth LE end to end: Gateway -> SessionController -> BLE session ->
// BGX13 driver -> simulated central -> simulated BGX13 module -> simulated sensor.
#include <gtest/gtest.h>

#include <algorithm>

#include "BleTestSupport.hpp"
#include "api/Live/SmogInfoReport.hpp"
#include "gateway/SimulatedSensorTest.hpp"
#include "sim/SimulatedAccessory.hpp"

using namespace qz;
using namespace qz::gwtest;
using qz::bletest::eventually;

namespace {

class GatewayBleTest : public SimulatedSensorTest {
  protected:
    void SetUp() override {
        SimulatedSensorTest::SetUp();
        module = sim::SimulatedBGX13::create(bleCore);
        world->add(module);
        gateway = Gateway::create();
    }
    std::shared_ptr<PelkSensor> bleSensor() {
        std::shared_ptr<PelkSensor> found;
        EXPECT_TRUE(eventually([&] {
            for (const auto& s : gateway->connectedDevices())
                if (s->sensorType().isLe()) found = s;
            return found != nullptr;
        }));
        return found;
    }

    std::shared_ptr<sim::SimulatedBluetooth> world = sim::SimulatedBluetooth::create();
    sim::SimulatedBluetooth::Installation installation{world};
    std::shared_ptr<sim::SensorCore> bleCore = std::make_shared<sim::SensorCore>();
    std::shared_ptr<sim::SimulatedBGX13> module;
};

}  // namespace

TEST_F(GatewayBleTest, ConnectsStartsUpAndServesLiveDataAndTheSmogCheck) {
    auto sensor = bleSensor();
    ASSERT_TRUE(sensor);
    Received<PelkSensorState> states;
    gateway->connect(sensor, states.callback());
    ASSERT_TRUE(states.waitFor(1));
    EXPECT_EQ(states.at(0).value,
              PelkSensorState::onSensorConnected(PelkSensorStatus::initialized));
    EXPECT_TRUE(states.at(0).onMain);
    EXPECT_TRUE(sensor->isIntialized());
    EXPECT_EQ(gateway->status(), SensorConnectionStatus::connected);
    EXPECT_FLOAT_EQ(gateway->sensorVersion(), 4.05f);

    Received<Result<std::vector<std::shared_ptr<PIDInfo>>, PelkError>> supported;
    gateway->supportedPids(supported.callback());
    ASSERT_TRUE(supported.waitFor(1));
    ASSERT_TRUE(supported.at(0).value);
    auto all = *supported.at(0).value;
    auto pid = *std::find_if(all.begin(), all.end(), [](auto& p) { return p->pid() == 0x0C; });
    Received<Result<std::shared_ptr<PIDInfo>, CommError>> rpm;
    gateway->updatePID(pid, rpm.callback());
    ASSERT_TRUE(rpm.waitFor(1));
    ASSERT_TRUE(rpm.at(0).value);
    EXPECT_EQ(pid->valueAsText(false), "1726.0 RPM");

    Received<Result<std::shared_ptr<SmogInfoReport>, SmogInfoError>> smog;
    gateway->requestSmogInfo(smog.callback());
    ASSERT_TRUE(smog.waitFor(1));
    EXPECT_TRUE(smog.at(0).value);

    gateway->disconnect();
    ASSERT_TRUE(states.waitFor(2));
    EXPECT_EQ(states.at(1).value, PelkSensorState::onSensorDisconnected());
    drainQueues();
    EXPECT_EQ(states.size(), 2u);
    EXPECT_EQ(gateway->connectedDevices().size(), 1u) << "a sensor that was seen stays listed";
}

TEST_F(GatewayBleTest, ListsAccessoriesBeforeBleSensors) {
    plugIn();
    ASSERT_TRUE(bleSensor());
    auto devices = gateway->connectedDevices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_TRUE(devices[0]->sensorType().isMfi());
    EXPECT_TRUE(devices[1]->sensorType().isLe());
}

TEST_F(GatewayBleTest, ASensorThatNeverAnswersTheConnectIsGivenUpAfterThirtySeconds) {
    module->setConnectAnswer(sim::SimulatedBGX13::ConnectAnswer::silent);
    auto sensor = bleSensor();
    Received<PelkSensorState> states;
    gateway->connect(sensor, states.callback());
    ASSERT_TRUE(states.waitFor(1));  // 30 s at 1/20 speed
    EXPECT_EQ(states.at(0).value, PelkSensorState::onSensorDisconnected());
    EXPECT_EQ(gateway->status(), SensorConnectionStatus::disconnected);
}

// A gateway released while its sensor is connected lets the link go with it: a new gateway finds
// the sensor and connects it; the released one's listener hears nothing more.
TEST_F(GatewayBleTest, AGatewayReleasedWhileConnectedLetsTheLinkGo) {
    Received<PelkSensorState> first, second;
    gateway->connect(bleSensor(), first.callback());
    ASSERT_TRUE(first.waitFor(1));
    gateway.reset();
    drainQueues();  // gone once the work it queued has run
    gateway = Gateway::create();
    gateway->connect(bleSensor(), second.callback());
    ASSERT_TRUE(second.waitFor(1));
    EXPECT_EQ(second.at(0).value,
              PelkSensorState::onSensorConnected(PelkSensorStatus::initialized));
    drainQueues();
    EXPECT_EQ(first.size(), 1u);
}
