// The BLE session through the session controller and the relay, over the simulated module.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <typeinfo>

#include "BleTestSupport.hpp"
#include "api/Communication/LESessionController.hpp"
#include "api/Communication/PelkNotifications.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/Gateway/Gateway.hpp"
#include "api/Logging/Log.hpp"
#include "logging/LogFileReader.hpp"
#include "platform/FileSystem.hpp"

using namespace qz;
using namespace qz::bletest;
using namespace qz::simtest;
using qz::sim::Fault;
using qz::sim::SimulatedBGX13;

namespace {

void drainGatewayQueue() {
    DispatchQueue::main()->sync([] {});
    Gateway::gatewayQueue()->sync([] {});
}

class LESessionTest : public SessionWorldTest {
  protected:
    void SetUp() override {
        SessionWorldTest::SetUp();
        module = addModule();
        ASSERT_TRUE(eventually([&] { return broadcasts.count(BroadcastStatus::appeared) == 1; }));
    }
    std::shared_ptr<PelkSensor> sensor() const { return broadcasts.seen().at(0).sensor; }
    void connect() {
        controller->connect(sensor(), status.listener());
        ASSERT_TRUE(eventually([&] { return status.saw(SensorConnectionStatus::connected); }));
    }

    std::shared_ptr<SimulatedBGX13> module;
    std::shared_ptr<Relay> relay = Relay::create(controller);
    StatusLog status;
};

}  // namespace

TEST_F(LESessionTest, ListsEveryDiscoveryAndReportsItAsAppeared) {
    auto first = sensor();
    EXPECT_EQ(first->name(), "Ostrel BLE");
    EXPECT_TRUE(first->sensorType().isLe());
    EXPECT_EQ(first->identifier(), module->identifier().uuidString());
    EXPECT_FALSE(first->isIntialized());
    // Switched off and on: found again, listed twice, reported twice, never "disappeared".
    world->setPowered(false);
    world->setPowered(true);
    ASSERT_TRUE(eventually([&] { return broadcasts.count(BroadcastStatus::appeared) == 2; }));
    auto listed = session()->discoveredDevices();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0]->sensorType(), listed[1]->sensorType());
    EXPECT_EQ(broadcasts.count(BroadcastStatus::disappeared), 0u);
    // The device of the rediscovery is the one that connects.
    connect();
    EXPECT_EQ(status.seen(), std::vector{SensorConnectionStatus::connected});
    EXPECT_EQ(session()->controller()->device(),
              session()->controller()->bgxDeviceScanner()->devicesDiscovered().at(0));
}

TEST_F(LESessionTest, CarriesCommandsAndRepliesThroughTheRelay) {
    connect();
    EXPECT_EQ(relay->sendToSensor("KQD").value(), "OK\r>");
    EXPECT_EQ(relay->sendToSensor("KQI").value(), "OSAPI 4.05\r>");
    // Text that is not ASCII reaches the sensor as it was written.
    const std::string ssid = "KQA$ config wifi p0 ssid \"Café ☕\"";
    EXPECT_EQ(relay->sendToSensor(ssid).value(), "OK\r>");
    module->core().setEcho(true);  // and comes back as it went
    EXPECT_EQ(relay->sendToSensor(ssid).value(), ssid + "\rOK\r>");
    module->core().setEcho(false);
    module->core().addFault(Fault::split(2));
    EXPECT_EQ(relay->sendToSensor("010C").value(), "1A F8 \r>");
    EXPECT_EQ(module->core().commands(),
              (std::vector<std::string>{"KQD", "KQI", ssid, ssid, "010C"}));
}

TEST_F(LESessionTest, EachNotificationIsOneDescrambledChunk) {
    auto chunks = std::make_shared<Chunks>();
    connect();
    controller->setReceiver(chunks);
    module->core().addFault(Fault::split(2));
    controller->send("KQI\r");
    ASSERT_TRUE(eventually([&] { return chunks->chunks().size() == 2; }));
    EXPECT_EQ(chunks->chunks(), (std::vector<std::string>{"OSAPI ", "4.05\r>"}));

    // Bytes that are not UTF-8 once descrambled are replaced, with a log line; the prompt
    // goes on.
    module->core().addFault(Fault::reply("\xff\xfe\r>"));
    controller->send("KQI\r");
    ASSERT_TRUE(eventually([&] { return chunks->chunks().size() == 3; }));
    EXPECT_EQ(chunks->chunks().at(2), "\xEF\xBF\xBD\xEF\xBF\xBD\r>");
    EXPECT_NE(qz::testing::libraryLogText().find("Could not read from stream"), std::string::npos);
}

TEST_F(LESessionTest, WithoutAReceiverTheTextIsLoggedAndLost) {
    auto bare = LESessionController::create();
    ASSERT_TRUE(eventually([&] { return bare->discoveredDevices().size() == 1; }));
    bare->send("KQI\r");  // no device yet: dropped
    StatusLog own;
    bare->connect(sensor(), own.listener());
    ASSERT_TRUE(eventually([&] { return own.saw(SensorConnectionStatus::connected); }));
    bare->send("KQI\r");
    ASSERT_TRUE(eventually([&] {
        // The log reader drops carriage returns.
        return qz::testing::libraryLogText().find(
                   "No receiver set, msg is not forwarded: OSAPI 4.05>") != std::string::npos;
    }));
    EXPECT_EQ(module->core().commands(), std::vector<std::string>{"KQI"});
    bare->disconnect(true);
    ASSERT_TRUE(eventually([&] { return own.saw(SensorConnectionStatus::disconnected); }));
}

TEST_F(LESessionTest, AnUnknownIdentifierReportsTheOpenError) {
    auto stranger = PelkSensor::create("stranger", SensorType::le(UUID::random()));
    controller->connect(stranger, status.listener());
    ASSERT_TRUE(eventually([&] { return !status.seen().empty(); }));
    drainGatewayQueue();
    EXPECT_EQ(status.seen(), std::vector{SensorConnectionStatus::errorOpeningConnection});
    EXPECT_EQ(posted.load(), 0);
}

// Every way a link ends is reported once, with one "DeviceDisconnected".
TEST_F(LESessionTest, TheEndOfALinkIsReportedOnce) {
    for (int way = 0; way < 4; ++way) {
        SCOPED_TRACE(way);
        StatusLog log;
        posted = 0;
        module->setConnectAnswer(way == 3 ? SimulatedBGX13::ConnectAnswer::refuse
                                          : SimulatedBGX13::ConnectAnswer::accept);
        controller->connect(sensor(), log.listener());
        if (way != 3) {
            ASSERT_TRUE(eventually([&] { return log.saw(SensorConnectionStatus::connected); }));
        }
        if (way == 0) controller->disconnect(true);
        if (way == 1) module->dropLink();
        if (way == 2) {
            module->core().addFault(Fault::silence(-1));
            for (int i = 0; i < 5; ++i) EXPECT_FALSE(relay->sendToSensor("KQI").has_value());
            module->core().clearFaults();
        }
        ASSERT_TRUE(eventually([&] { return log.saw(SensorConnectionStatus::disconnected); }));
        drainGatewayQueue();
        EXPECT_EQ(log.count(SensorConnectionStatus::disconnected), 1u);
        EXPECT_EQ(posted.load(), 1);
        EXPECT_EQ(session()->discoveredDevices().size(), 1u);
    }
}

// A connect request made while the end of the last link is still on its way to the bridge: that
// end goes to the listener of the last link, the new link to the new one.
TEST_F(LESessionTest, AnEndOnItsWayIsReportedToItsOwnLink) {
    connect();
    auto bridge = session()->controller();
    auto device = bridge->device();
    StatusLog second;
    auto listener = [inner = second.listener()](SensorConnectionStatus s) { inner(s); };
    std::atomic<bool> started{false};
    std::atomic<bool> release{false};
    DispatchQueue::main()->async([&] {
        device->disconnect();  // the link's end now waits behind this item
        started = true;
        while (!release) std::this_thread::yield();
    });
    ASSERT_TRUE(eventually([&] { return started.load(); }));
    std::thread other([&] { controller->connect(sensor(), listener); });
    // Time for the request to reach the bridge; it must not take the device over yet.
    eventually([&] { return bridge->connectionListener().target_type() == typeid(listener); }, 0.2);
    release = true;
    other.join();
    ASSERT_TRUE(eventually([&] { return second.saw(SensorConnectionStatus::connected); }));
    drainGatewayQueue();
    EXPECT_EQ(status.seen(), (std::vector{SensorConnectionStatus::connected,
                                          SensorConnectionStatus::disconnected}));
    EXPECT_EQ(second.seen(), std::vector{SensorConnectionStatus::connected});
    EXPECT_EQ(posted.load(), 1);
}

// A connect request for another sensor replaces the current device: the old one no longer calls
// the bridge, and its changes are not reported.
TEST_F(LESessionTest, OnlyTheCurrentDeviceIsReported) {
    connect();
    const auto first = session()->controller()->device();
    auto other = addModule();
    ASSERT_TRUE(eventually([&] { return broadcasts.count(BroadcastStatus::appeared) == 2; }));
    StatusLog second;
    controller->connect(broadcasts.seen().at(1).sensor, second.listener());
    ASSERT_TRUE(eventually([&] { return second.saw(SensorConnectionStatus::connected); }));
    EXPECT_EQ(first->deviceDelegate(), nullptr);
    EXPECT_EQ(first->serialDelegate(), nullptr);
    module->dropLink();  // the first device's link
    drainGatewayQueue();
    DispatchQueue::main()->sync([] {});
    drainGatewayQueue();
    EXPECT_EQ(second.seen(), std::vector{SensorConnectionStatus::connected});
    EXPECT_EQ(status.seen(), std::vector{SensorConnectionStatus::connected});
    EXPECT_EQ(posted.load(), 0);
    EXPECT_EQ(relay->sendToSensor("KQI").value(), "OSAPI 4.05\r>");
    EXPECT_EQ(other->core().commands(), std::vector<std::string>{"KQI"});
}
