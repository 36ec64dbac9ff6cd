// The BlueZ backend over a private dbus-daemon, against the fake org.bluez of sim/: the driver,
// the session and the gateway reach the simulated BGX13 module through D-Bus as they would reach
// a real sensor through BlueZ.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "BleTestSupport.hpp"
#include "PrivateBus.hpp"
#include "api/Communication/LESessionController.hpp"
#include "api/Communication/PelkNotifications.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/Logging/Log.hpp"
#include "gateway/GatewayTestSupport.hpp"
#include "logging/LogFileReader.hpp"
#include "platform/ble/BlueZCentral.hpp"
#include "sim/FakeBlueZ.hpp"

// Options name only the fields they set (`{.adapter = "hci1"}`); the others keep their
// defaults. GCC flags each such option as missing its initializers: not a fault here.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

using namespace qz;
using namespace qz::bletest;
using qz::sim::FakeBlueZ;
using qz::sim::SimulatedBGX13;

namespace {

// A private bus with the fake BlueZ on it and a BlueZ central factory for it in place.
class BlueZTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Never skipped: the test command installs dbus-daemon.
        ASSERT_FALSE(bus.address.empty()) << bus.error;
        fake = FakeBlueZ::start(bus.address);
        ASSERT_TRUE(fake->serving());
        module = SimulatedBGX13::create(std::make_shared<sim::SensorCore>());
        fake->add(module);
        use({});
    }
    void TearDown() override {
        // The centrals go before BlueZ does, and the main queue's last tasks (which may let go of
        // one) are waited for: a central's bus thread ends before this thread goes on.
        scanners.clear();
        drainMain();
        if (fake) fake->stop();
        drainMain();
        setBleCentralFactory(previous);
    }
    void use(BlueZOptions options) {
        options.busAddress = bus.address;
        auto before = setBleCentralFactory(BlueZCentral::factory(options));
        if (!replaced) previous = before;
        replaced = true;
    }
    // A scanner over the BlueZ central with a recorder as every delegate.
    std::shared_ptr<BGXScanner> scanner() {
        auto s = BGXScanner::create(DispatchQueue::main(), recorder);
        scanners.push_back(s);
        return s;
    }
    // A scanner that scans once Bluetooth is up, and the device of its first discovery; null
    // when none came.
    std::shared_ptr<BGXDevice> discover() {
        auto s = scanner();
        if (!eventually([&] { return s->scanState() == ScanState::Idle; })) return nullptr;
        s->startScan();
        if (!eventually([&] { return recorder->count(recorder->discovered) == 1; })) return nullptr;
        return recorder->get(recorder->discovered).at(0);
    }

    PrivateBus bus;
    std::shared_ptr<FakeBlueZ> fake;
    std::shared_ptr<SimulatedBGX13> module;
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::vector<std::shared_ptr<BGXScanner>> scanners;
    BleCentralFactory previous;
    bool replaced = false;
};

}  // namespace

TEST_F(BlueZTest, TheDriverScansConnectsAndStreamsThroughBlueZ) {
    ScopedClock clock(std::make_shared<ScaledClock>(0.05));
    auto s = scanner();
    ASSERT_TRUE(eventually([&] { return s->scanState() == ScanState::Idle; }));
    EXPECT_EQ(std::dynamic_pointer_cast<BlueZCentral>(s->centralManager())->adapterPath(),
              "/org/bluez/hci0");
    s->startScan();
    ASSERT_TRUE(eventually([&] { return recorder->count(recorder->discovered) == 1; }));
    EXPECT_TRUE(fake->discovering());
    EXPECT_EQ(fake->filterUuids(), std::vector<std::string>{BGXUUID::streamingService});
    EXPECT_EQ(fake->filterTransport(), "le");
    auto device = recorder->get(recorder->discovered).at(0);
    EXPECT_EQ(device->identifier(), BlueZCentral::identifierForAddress("c0:4e:30:1a:2b:3c"));
    EXPECT_EQ(device->name(), "Ostrel BLE");
    EXPECT_EQ(device->rssi(), -58);

    device->setDeviceDelegate(recorder);
    device->setSerialDelegate(recorder);
    ConsoleLines console;
    device->connect();
    ASSERT_TRUE(eventually([&] { return device->deviceState() == DeviceState::Connected; }));
    EXPECT_EQ(device->modelNumber(), "BGX13P");
    // A read changes the characteristic's Value too: answered once all the same.
    EXPECT_EQ(console.containing("Model Number: BGX13P"), 1u);
    EXPECT_TRUE(device->fastAck());
    ASSERT_TRUE(eventually([&] { return device->fastAckTxBytes() == 2048; }));
    EXPECT_EQ(device->peripheral()->maximumWriteValueLength(BleWriteType::withoutResponse), 244u);

    // A command out, its answer back as notifications, credit returned for each.
    ASSERT_TRUE(device->writeData(sim::scramble("KQI\r")));
    ASSERT_TRUE(eventually([&] { return recorder->count(recorder->reads) == 1; }));
    EXPECT_EQ(sim::toString(sim::scramble(recorder->get(recorder->reads).at(0))), "OSAPI 4.05\r>");
    ASSERT_TRUE(eventually([&] { return module->writes(BGXUUID::peripheralTX).size() == 2; }));
    EXPECT_EQ(module->writes(BGXUUID::peripheralTX).at(0), (Data{0x00, 0xFF, 0x7F}));
    EXPECT_EQ(module->writes(BGXUUID::peripheralTX).at(1), (Data{0x01, 0x0C, 0x00}));
    EXPECT_EQ(fake->writeTypes(BGXUUID::peripheralRX), std::vector<std::string>{"command"});

    // A long write in credit-sized chunks; then a bus mode write with response.
    ASSERT_TRUE(device->writeData(Data(3000, 0x1B)));
    ASSERT_TRUE(eventually([&] { return recorder->count(recorder->written) == 2; }));
    EXPECT_EQ(module->creditOverrun(), 0u);
    std::atomic<bool> done = false;
    ASSERT_TRUE(device->writeBusMode(2, std::nullopt, [&](auto&, auto& error) { done = !error; }));
    ASSERT_TRUE(eventually([&] { return device->busMode() == 2; }));
    ASSERT_TRUE(eventually([&] { return done.load(); }));
    EXPECT_EQ(fake->writeTypes(BGXUUID::busMode), std::vector<std::string>{"request"});

    // A failed write is dropped and the next one goes; a failed read closes the link.
    module->injectFault(SimulatedBGX13::Fault::write);
    ASSERT_TRUE(device->writeString("x"));
    ASSERT_TRUE(eventually([&] { return device->canWrite() && device->writeString("y"); }));
    ASSERT_TRUE(eventually([&] { return recorder->count(recorder->written) == 3; }));
    module->injectFault(SimulatedBGX13::Fault::valueUpdate);
    EXPECT_TRUE(device->readBusMode());
    ASSERT_TRUE(eventually([&] { return device->deviceState() == DeviceState::Disconnected; }));
    EXPECT_EQ(recorder->count(recorder->errors), 1u);
}

TEST_F(BlueZTest, TheSessionAndTheGatewayWorkThroughBlueZ) {
    ScopedHome home;
    ScopedClock clock(std::make_shared<ScaledClock>(0.05));
    auto gateway = Gateway::create();
    auto sensor = gwtest::listedSensor(*gateway);
    ASSERT_TRUE(sensor);
    gwtest::Received<PelkSensorState> states;
    gateway->connect(sensor, states.callback());
    ASSERT_TRUE(states.waitFor(1));
    EXPECT_EQ(states.at(0).value,
              PelkSensorState::onSensorConnected(PelkSensorStatus::initialized));
    auto relay = gateway->relay();
    const std::string ssid = "KQA$ config wifi p0 ssid \"Café\"";
    Gateway::gatewayQueue()->sync([&] { EXPECT_EQ(relay->sendToSensor(ssid).value(), "OK\r>"); });
    EXPECT_EQ(module->core().commands().back(), ssid);

    // The link drops: reported once.
    module->dropLink();
    ASSERT_TRUE(states.waitFor(2));
    EXPECT_EQ(states.at(1).value, PelkSensorState::onSensorDisconnected());
    // Connected again, then closed by the app.
    gateway->connect(sensor, states.callback());
    ASSERT_TRUE(states.waitFor(3));
    EXPECT_EQ(states.at(2).value,
              PelkSensorState::onSensorConnected(PelkSensorStatus::initialized));
    gateway->disconnect();
    ASSERT_TRUE(states.waitFor(4));
    EXPECT_EQ(states.at(3).value, PelkSensorState::onSensorDisconnected());
    gwtest::drainQueues();
    EXPECT_EQ(states.size(), 4u);
    EXPECT_EQ(fake->connectCalls(), 2);
    gateway.reset();
    drainMain();
}

TEST_F(BlueZTest, PowerAdaptersAndMissingBluetooth) {
    // The adapter starts switched off: no scan until it is powered.
    fake->setPowered(false);
    fake->sync();
    auto s = scanner();
    ASSERT_TRUE(eventually([&] { return recorder->count(recorder->bluetoothStates) == 1; }));
    EXPECT_EQ(recorder->get(recorder->bluetoothStates), std::vector{4});
    EXPECT_EQ(s->scanState(), ScanState::Unavailable);
    fake->setPowered(true);
    ASSERT_TRUE(eventually([&] { return s->scanState() == ScanState::Idle; }));
    EXPECT_TRUE(s->startScan());
    ASSERT_TRUE(eventually([&] { return recorder->count(recorder->discovered) == 1; }));

    // A host picks its adapter by name; an adapter that is not there means no Bluetooth.
    fake->addAdapter("hci1");
    fake->sync();
    use({.adapter = "hci1"});
    auto second = std::make_shared<Recorder>();
    auto other = BGXScanner::create(DispatchQueue::main(), second);
    ASSERT_TRUE(eventually([&] { return second->count(second->bluetoothStates) == 1; }));
    EXPECT_EQ(std::dynamic_pointer_cast<BlueZCentral>(other->centralManager())->adapterPath(),
              "/org/bluez/hci1");
    use({.adapter = "hci7"});
    auto none = std::make_shared<Recorder>();
    auto missing = BGXScanner::create(DispatchQueue::main(), none);
    ASSERT_TRUE(eventually([&] { return none->count(none->bluetoothStates) == 1; }));
    EXPECT_EQ(none->get(none->bluetoothStates), std::vector{2});

    // No org.bluez on the bus, and no bus at all.
    fake->stop();
    for (const std::string& address : {bus.address, std::string("unix:path=/nonexistent/bus")}) {
        SCOPED_TRACE(address);
        setBleCentralFactory(BlueZCentral::factory({.busAddress = address}));
        auto r = std::make_shared<Recorder>();
        auto sc = BGXScanner::create(DispatchQueue::main(), r);
        ASSERT_TRUE(eventually([&] { return r->count(r->bluetoothStates) == 1; }));
        EXPECT_EQ(r->get(r->bluetoothStates), std::vector{2});
        EXPECT_EQ(sc->scanState(), ScanState::Unavailable);
    }
}

TEST_F(BlueZTest, FailedAndUnansweredConnects) {
    auto clock = std::make_shared<VirtualClock>();
    ScopedClock scoped(clock);
    auto device = discover();
    ASSERT_TRUE(device);
    device->setDeviceDelegate(recorder);

    module->setConnectAnswer(SimulatedBGX13::ConnectAnswer::refuse);
    device->connect();
    ASSERT_TRUE(eventually([&] { return recorder->count(recorder->timeouts) == 1; }));
    ASSERT_TRUE(eventually([&] { return device->deviceState() == DeviceState::Disconnected; }));

    // Asked twice while the module does not answer: one Connect call.
    module->setConnectAnswer(SimulatedBGX13::ConnectAnswer::silent);
    device->connect();
    device->connect();
    ASSERT_TRUE(eventually([&] { return fake->connectCalls() == 2; }));
    {
        // Given up, and asked again while BlueZ is busy: the cancelled call fails only after
        // the new attempt has begun.
        auto busy = fake->hold();
        clock->advance(30.5);
        ASSERT_TRUE(eventually([&] { return device->deviceState() == DeviceState::Disconnected; }));
        EXPECT_EQ(recorder->count(recorder->timeouts), 2u);
        device->connect();
    }
    // That late failure does not end the new attempt (seen by the time a module added afterwards
    // is discovered); the adapter switched off does.
    ASSERT_TRUE(eventually([&] { return fake->connectCalls() == 3; }));
    auto other = SimulatedBGX13::create(std::make_shared<sim::SensorCore>(),
                                        options([](auto& o) { o.address = "C0:4E:30:1A:2B:3D"; }));
    fake->add(other);
    ASSERT_TRUE(eventually([&] { return recorder->count(recorder->discovered) == 2; }));
    drainMain();
    EXPECT_EQ(device->deviceState(), DeviceState::Connecting);
    EXPECT_EQ(recorder->count(recorder->timeouts), 2u);
    fake->setPowered(false);
    ASSERT_TRUE(eventually([&] { return device->deviceState() == DeviceState::Disconnected; }));
    EXPECT_EQ(recorder->count(recorder->timeouts), 3u);
    EXPECT_EQ(fake->connectCalls(), 3);
}

// BlueZ lets go of a device and finds it again while the scan runs: reported again. It forgets
// the signal strength once discovery stops: the last value it gave stays the device's.
TEST_F(BlueZTest, AForgottenDeviceIsFoundAgainAndKeepsItsLastSignalStrength) {
    auto clock = std::make_shared<VirtualClock>();
    ScopedClock scoped(clock);
    ConsoleLines console;
    auto device = discover();
    ASSERT_TRUE(device);
    auto s = scanners.back();
    fake->forget(module);
    fake->add(module);
    ASSERT_TRUE(eventually([&] { return recorder->count(recorder->discovered) == 2; }));
    EXPECT_EQ(recorder->get(recorder->discovered).at(1), device);
    EXPECT_EQ(s->devicesDiscovered().size(), 1u);

    device->setDeviceDelegate(recorder);
    device->connect();
    ASSERT_TRUE(eventually([&] { return device->deviceState() == DeviceState::Connected; }));
    module->setRssi(-70);
    fake->add(module);  // seen again, at -70 dBm
    fake->sync();
    s->stopScan();
    // BlueZ's signals may still be on their way when it is done: its answer to a later call
    // comes after them, so the central has the sighting and the end of discovery by then.
    std::atomic<bool> answered = false;
    ASSERT_TRUE(device->writeBusMode(2, std::nullopt, [&](auto&, auto&) { answered = true; }));
    ASSERT_TRUE(eventually([&] { return answered.load(); }));
    EXPECT_FALSE(fake->discovering());
    clock->advance(15.1);
    ASSERT_TRUE(eventually([&] { return recorder->count(recorder->rssis) == 1; }));
    EXPECT_EQ(recorder->get(recorder->rssis), std::vector{-70});
    clock->advance(15);
    drainMain();
    EXPECT_EQ(console.containing("Error reading RSSI"), 0u);
}

// BlueZ stops: the link ends with its report (no disconnect left hanging); BlueZ starts again:
// its objects are read afresh and a reconnect works. A Disconnect BlueZ refuses ends the link
// all the same, and the next connect starts afresh.
TEST_F(BlueZTest, TheLinkEndsWhenBlueZStopsOrRefusesToDisconnect) {
    ScopedHome home;
    ScopedClock clock(std::make_shared<ScaledClock>(0.05));
    auto gateway = Gateway::create();
    auto sensor = gwtest::listedSensor(*gateway);
    ASSERT_TRUE(sensor);
    gwtest::Received<PelkSensorState> states;
    const auto initialized = PelkSensorState::onSensorConnected(PelkSensorStatus::initialized);
    gateway->connect(sensor, states.callback());
    ASSERT_TRUE(states.waitFor(1));
    EXPECT_EQ(states.at(0).value, initialized);

    fake->stop();
    ASSERT_TRUE(states.waitFor(2));
    EXPECT_EQ(states.at(1).value, PelkSensorState::onSensorDisconnected());
    fake = FakeBlueZ::start(bus.address);
    fake->add(module);
    ASSERT_TRUE(eventually([&] { return gateway->connectedDevices().size() == 2; }));
    gateway->connect(sensor, states.callback());
    ASSERT_TRUE(states.waitFor(3));
    EXPECT_EQ(states.at(2).value, initialized);

    module->injectFault(SimulatedBGX13::Fault::disconnect);
    gateway->disconnect();
    ASSERT_TRUE(states.waitFor(4));
    EXPECT_EQ(states.at(3).value, PelkSensorState::onSensorDisconnected());
    gateway->connect(sensor, states.callback());
    ASSERT_TRUE(states.waitFor(5));
    EXPECT_EQ(states.at(4).value, initialized);
    auto relay = gateway->relay();
    Gateway::gatewayQueue()->sync(
        [&] { EXPECT_EQ(relay->sendToSensor("KQI").value(), "OSAPI 4.05\r>"); });
    gwtest::drainQueues();
    EXPECT_EQ(states.size(), 5u);
    gateway.reset();
    drainMain();
}

// A read, write or subscription still open when the driver closes the link is answered (with
// an error) after the driver asked to disconnect, or only once the next link of the device is
// up: that answer is dropped, not a second disconnect with an error, nor taken as the new
// link's.
TEST_F(BlueZTest, AnswersOfALinkThatIsClosingAreDropped) {
    auto clock = std::make_shared<VirtualClock>();
    ScopedClock scoped(clock);
    auto silent = SimulatedBGX13::create(std::make_shared<sim::SensorCore>(), options([](auto& o) {
                                             o.answersBusMode = false;
                                             o.address = "C0:4E:30:1A:2B:3E";
                                         }));
    fake->add(silent);
    ConsoleLines console;
    int errorPosts = 0;
    ScopedObserver observer("Error", [&](const Notification&) { ++errorPosts; });
    auto s = scanner();
    ASSERT_TRUE(eventually([&] { return s->scanState() == ScanState::Idle; }));
    s->startScan();
    ASSERT_TRUE(eventually([&] { return recorder->count(recorder->discovered) == 2; }));
    auto deviceOf = [&](const SimulatedBGX13& m) {
        const auto id = BlueZCentral::identifierForAddress(m.options().address);
        for (const auto& d : recorder->get(recorder->discovered))
            if (d->identifier() == id) return d;
        return std::shared_ptr<BGXDevice>();
    };
    auto count = [](const auto& list, const std::string& item) {
        return std::count(list.begin(), list.end(), item);
    };
    struct Row {
        const char* open;
        std::shared_ptr<SimulatedBGX13> module;
        bool writesOpen;
        // Calls the module has taken whose answer stays open.
        std::function<size_t()> taken;
    };
    const Row rows[] = {
        {"its bus mode read (interrogating)", silent, false,
         [&] { return count(silent->requests(), "read " + std::string(BGXUUID::busMode)); }},
        {"its subscriptions and credit message (connected)", module, true,
         [&] { return module->writes(BGXUUID::peripheralTX).size(); }},
    };
    for (bool late : {false, true}) {
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(row.open) +
                         (late ? ", answered once the next link is up" : ", answered as it ends"));
            fake->failOpenCallsLate(late);
            fake->leaveWritesOpen(row.writesOpen);
            auto device = deviceOf(*row.module);
            ASSERT_TRUE(device);
            device->setDeviceDelegate(recorder);
            for (int round = 0; round < 2; ++round) {
                const auto before = row.taken();
                device->connect();
                ASSERT_TRUE(eventually([&] { return row.taken() > before; }));
                fake->sync();
                device->disconnect();
                ASSERT_TRUE(
                    eventually([&] { return device->deviceState() == DeviceState::Disconnected; }));
                fake->sync();
                drainMain();
            }
        }
    }
    fake->leaveWritesOpen(false);
    EXPECT_EQ(recorder->count(recorder->errors), 0u);
    EXPECT_EQ(errorPosts, 0);
    EXPECT_EQ(console.containing("to the characteristic"), 0u);
    EXPECT_EQ(recorder->get(recorder->states).back(), DeviceState::Disconnected);
}

// Creating a gateway where no system bus is reachable writes nothing to standard error; the
// reason is in the library's log.
TEST(BlueZStartUp, NoSystemBusIsLoggedNotPrinted) {
    ScopedHome home;
    Log::reset();
    const char* before = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    std::optional<std::string> saved;
    if (before) saved = before;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/qz/system_bus_socket", 1);
    auto previous = setBleCentralFactory(BlueZCentral::factory({}));
    testsupport::TempDir folder("qz-stderr");
    const auto capture = folder / "stderr";
    std::fflush(stderr);
    const int saved2 = ::dup(2);
    const int file = ::open(capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(file, 2);
    {
        auto gateway = Gateway::create();
        EXPECT_TRUE(eventually([] {
            return qz::testing::libraryLogText().find("BlueZ: no bus") != std::string::npos;
        }));
        gateway.reset();
        drainMain();
    }
    std::fflush(stderr);
    ::dup2(saved2, 2);
    ::close(saved2);
    ::close(file);
    setBleCentralFactory(previous);
    if (saved)
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", saved->c_str(), 1);
    else
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    EXPECT_EQ(testsupport::text(testsupport::readFileBytes(capture)), "");
    Log::reset();
}
