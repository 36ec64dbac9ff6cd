// The BlueZ backend against a BlueZ nobody here wrote: python-dbusmock's bluez5 template on a
// private bus, with the simulated BGX13 module added through the mock's own interface. The
// gateway connects, initialises and talks to the simulated sensor through it.
#include <gtest/gtest.h>

#include "BleTestSupport.hpp"
#include "PrivateBus.hpp"
#include "api/Communication/Relay.hpp"
#include "gateway/GatewayTestSupport.hpp"
#include "platform/ble/BlueZCentral.hpp"
#include "sim/DbusmockBlueZ.hpp"

// Options name only the fields they set (`{.adapter = "hci1"}`); the others keep their
// defaults. GCC flags each such option as missing its initializers: not a fault here.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

using namespace qz;
using namespace qz::bletest;
using qz::sim::DbusmockBlueZ;
using qz::sim::SimulatedBGX13;

namespace {

class DbusmockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (auto why = DbusmockBlueZ::unavailable()) {
            if (DbusmockBlueZ::installable()) FAIL() << *why << ": scripts/deps installs it";
            GTEST_SKIP() << *why << ", and this machine's packages offer no python3-dbusmock";
        }
        ASSERT_FALSE(bus.address.empty()) << bus.error;
        mock = DbusmockBlueZ::start(bus.address, bus.folder());
        previous = setBleCentralFactory(BlueZCentral::factory({.busAddress = bus.address}));
        replaced = true;
    }
    void TearDown() override {
        gateway.reset();
        drainMain();
        gwtest::drainQueues();
        mock.reset();
        if (replaced) setBleCentralFactory(previous);
    }

    std::shared_ptr<SimulatedBGX13> addModule(SimulatedBGX13::Options options = {}) {
        auto m = SimulatedBGX13::create(core, std::move(options));
        mock->add(m);
        return m;
    }
    // The gateway and the sensor it lists once discovery has found the module.
    std::shared_ptr<PelkSensor> discover() {
        gateway = Gateway::create();
        return gwtest::listedSensor(*gateway, {}, 30);
    }
    void expectState(size_t index, const PelkSensorState& state, double seconds = 30) {
        ASSERT_TRUE(states.waitFor(index + 1, seconds)) << "state " << index << " did not come";
        EXPECT_EQ(states.at(index).value, state);
    }
    std::string send(const std::string& command) {
        std::string reply;
        Gateway::gatewayQueue()->sync(
            [&] { reply = gateway->relay()->sendToSensor(command).value_or("(failed)"); });
        return reply;
    }

    const PelkSensorState initialized =
        PelkSensorState::onSensorConnected(PelkSensorStatus::initialized);
    const PelkSensorState disconnected = PelkSensorState::onSensorDisconnected();
    const PelkSensorState openError =
        PelkSensorState::onError(PelkError::general("Could not open stream", 99));

    ScopedHome home;
    ScopedClock clock{std::make_shared<ScaledClock>(0.05)};
    PrivateBus bus;
    std::shared_ptr<DbusmockBlueZ> mock;
    std::shared_ptr<sim::SensorCore> core = std::make_shared<sim::SensorCore>();
    std::shared_ptr<Gateway> gateway;
    gwtest::Received<PelkSensorState> states;
    BleCentralFactory previous;
    bool replaced = false;
};

}  // namespace

// Connect, commands and replies (a character cut between two notifications, credit granted
// late), a dropped link, a reconnect and a disconnect.
TEST_F(DbusmockTest, TheGatewayWorksThroughTheTemplate) {
    auto module = addModule([] {
        SimulatedBGX13::Options o;
        o.notifySizes = {4, 20};
        o.creditDelay = 0.15;
        return o;
    }());
    core->addHandler([](const std::string& command) -> std::optional<std::string> {
        if (command == "KQNAME") return std::string("Café");
        return std::nullopt;
    });
    auto sensor = discover();
    ASSERT_TRUE(sensor);
    EXPECT_EQ(sensor->sensorType().asLe().uuid,
              BlueZCentral::identifierForAddress(module->options().address));
    gateway->connect(sensor, states.callback());
    expectState(0, initialized);
    EXPECT_EQ(send("KQNAME"), "Café\r>");

    module->dropLink();
    expectState(1, disconnected);
    gateway->connect(sensor, states.callback());
    expectState(2, initialized);
    gateway->disconnect();
    expectState(3, disconnected);
    gwtest::drainQueues();
    EXPECT_EQ(states.size(), 4u);
    EXPECT_EQ(mock->deviceCalls(module, "Connect"), 2);
}

// bluetoothd stops: the link ends with its report; it starts again: the device is read afresh
// and a reconnect works.
TEST_F(DbusmockTest, BluetoothdStoppingAndComingBack) {
    addModule();
    auto sensor = discover();
    ASSERT_TRUE(sensor);
    gateway->connect(sensor, states.callback());
    expectState(0, initialized);

    mock->stopService();
    expectState(1, disconnected);
    EXPECT_EQ(send("KQI"), "(failed)");

    mock->startService();
    // Discovery sees the device again (the list keeps every sighting).
    ASSERT_TRUE(eventually([&] { return gateway->connectedDevices().size() == 2; }, 30));
    gateway->connect(sensor, states.callback());
    expectState(2, initialized);
    EXPECT_EQ(send("KQI"), "OSAPI 4.05\r>");
}

// Calls the template refuses with BlueZ's errors: a refused Connect is a link that did not
// come up, a refused subscription an open error the app sees, a refused write a command the
// start-up sends again; a refused Disconnect still ends the link. After each, the next connect
// works.
TEST_F(DbusmockTest, RefusedCallsEndOrFailTheLinkAndTheNextConnectWorks) {
    auto module = addModule();
    auto sensor = discover();
    ASSERT_TRUE(sensor);
    struct Row {
        const char* method;
        const char* uuid;
        PelkSensorState first;
    };
    const Row rows[] = {
        {"Connect", "", disconnected},
        {"StartNotify", BGXUUID::peripheralTX, openError},
        {"StartNotify", BGXUUID::peripheralRX, openError},
        {"WriteValue", BGXUUID::peripheralRX, initialized},
    };
    size_t seen = 0;
    // A state that does not come ends the test: the steps after it would each wait for theirs.
    auto step = [&](const PelkSensorState& state) {
        expectState(seen++, state, 10);
        return !::testing::Test::HasFatalFailure();
    };
    for (const char* error :
         {"org.bluez.Error.Failed", "org.bluez.Error.InProgress", "org.bluez.Error.NotPermitted"}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.method) + " " + row.uuid + " " + error);
            mock->refuse(module, row.method, error, 1, row.uuid);
            gateway->connect(sensor, states.callback());
            if (!step(row.first)) return;
            if (row.first != initialized) {
                gateway->connect(sensor, states.callback());
                if (!step(initialized)) return;
            }
            gateway->disconnect();
            if (!step(disconnected)) return;
        }
        // Disconnect refused: the link is reported ended all the same, and comes up again.
        SCOPED_TRACE(std::string("Disconnect ") + error);
        gateway->connect(sensor, states.callback());
        if (!step(initialized)) return;
        mock->refuse(module, "Disconnect", error);
        gateway->disconnect();
        if (!step(disconnected)) return;
        gateway->connect(sensor, states.callback());
        if (!step(initialized)) return;
        EXPECT_EQ(send("KQI"), "OSAPI 4.05\r>");
        gateway->disconnect();
        if (!step(disconnected)) return;
    }
    gwtest::drainQueues();
    EXPECT_EQ(states.size(), seen);
}

// Switched off, the adapter takes the link down (added through the mock: the template's adapter
// leaves its devices alone); switched on, scanning and connecting work again.
TEST_F(DbusmockTest, PowerOffEndsTheLink) {
    addModule();
    auto sensor = discover();
    ASSERT_TRUE(sensor);
    gateway->connect(sensor, states.callback());
    expectState(0, initialized);
    mock->setPowered(false);
    expectState(1, disconnected);
    mock->setPowered(true);
    ASSERT_TRUE(eventually([&] { return gateway->connectedDevices().size() == 2; }, 30));
    gateway->connect(sensor, states.callback());
    expectState(2, initialized);
}
