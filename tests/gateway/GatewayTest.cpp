#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "GatewayTestSupport.hpp"
#include "api/Communication/PelkError.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/DB/MyPersistentContainer.hpp"
#include "api/Data/PelkData.hpp"
#include "api/Firmware/SkiffUpdater.hpp"
#include "api/PIDs/PIDInterface.hpp"
#include "platform/Compression.hpp"
#include "sim/SimulatedAccessory.hpp"
#include "support/TestSupport.hpp"

using namespace qz;
using namespace qz::gwtest;
using qz::sim::SensorCore;
using qz::sim::SimulatedAccessory;
using qz::testsupport::errorOf;

namespace {

std::shared_ptr<PelkSensor> unknownMfiSensor() {
    return PelkSensor::create("Ostrel FFFF", SensorType::mfi("FFFFFFFFFFFF", 999999));
}

std::shared_ptr<PelkSensor> leSensor() {
    return PelkSensor::create("Ostrel LE", SensorType::le(UUID::random()));
}

}  // namespace

// MARK: construction and destruction

TEST_F(GatewayTest, CountsGatewaysAndLogsASecondOne) {
    const int before = Gateway::gatewayCount();
    ASSERT_EQ(before, 0) << "another test left a gateway alive";
    auto first = Gateway::create();
    EXPECT_EQ(lines->endingWith(" -> Gateway initialized").size(), 1u);
    EXPECT_EQ(lines->containing("Multiple gateways created"), 0u);
    auto second = Gateway::create();
    EXPECT_EQ(lines->endingWith(" -> Multiple gateways created: current count :1").size(), 1u);
    EXPECT_EQ(Gateway::gatewayCount(), 2);

    first.reset();
    second.reset();
    auto gone = lines->lines();
    std::vector<std::string> deinit;
    for (auto& l : gone)
        if (l.find("Gateway deinitialized, count: ") != std::string::npos) deinit.push_back(l);
    ASSERT_EQ(deinit.size(), 2u);
    EXPECT_TRUE(deinit[0].ends_with("Gateway deinitialized, count: 1"));
    EXPECT_TRUE(deinit[1].ends_with("Gateway deinitialized, count: 0"));
    EXPECT_EQ(Gateway::gatewayCount(), 0);
}

TEST_F(GatewayTest, WiresTheRelayAndTheCatalogue) {
    auto gateway = Gateway::create();
    ASSERT_TRUE(gateway->relay());
    EXPECT_EQ(gateway->relay()->bt(), gateway->sessionController());
    EXPECT_EQ(gateway->pidInterface()->relay(), gateway->relay());
    EXPECT_EQ(gateway->pidInterface()->vehicle(), gateway->vehicle());
    EXPECT_EQ(gateway->firmwareUpdater()->PACKET_BLOCK_SIZE, 375);
    EXPECT_FALSE(gateway->firmwareUpdater()->fwData());
    EXPECT_FALSE(gateway->firmwareUpdater()->upgradeHasStarted);
    EXPECT_FALSE(gateway->firmwareUpdater()->inRecovery);
    EXPECT_FALSE(gateway->isBusy());
    EXPECT_EQ(gateway->status(), SensorConnectionStatus::disconnected);
    EXPECT_FALSE(gateway->ymme());
    EXPECT_TRUE(gateway->api()->BAAS_API.ends_with("/api/v2/"));
    EXPECT_TRUE(gateway->binder().loggerInterface);
    EXPECT_FALSE(gateway->binder().moduleStatusManagerProtocol);
    EXPECT_FALSE(gateway->binder().indicatorAdapter);
    EXPECT_FALSE(gateway->binder().sensorTimeoutAdapter);
}

TEST_F(GatewayTest, PersistentContainerIsBuiltOnceInTheLibraryDataFolder) {
    auto gateway = Gateway::create();
    auto container = gateway->persistentContainer();
    ASSERT_TRUE(container);
    EXPECT_EQ(container, gateway->persistentContainer());
    EXPECT_TRUE(container->isLoaded());
    EXPECT_EQ(container->storeURL().parent_path().parent_path(),
              Paths::applicationSupportDirectory());
}

TEST_F(GatewayTest, ReleasingTheGatewayClearsTheSessionListeners) {
    auto gateway = Gateway::create();
    auto controller = gateway->sessionController();
    gateway->registerForConnectionUpdates([](std::shared_ptr<PelkSensor>, BroadcastStatus) {});
    gateway->connect(unknownMfiSensor(), [](PelkSensorState) {});
    EXPECT_TRUE(controller->broadcastListener());
    drainQueues();
    gateway.reset();
    EXPECT_FALSE(controller->broadcastListener());
    EXPECT_FALSE(controller->statusListener());
}

// MARK: versions and logs

TEST_F(GatewayTest, VersionsWithoutTouchingTheSensor) {
    auto gateway = Gateway::create();
    auto calls = [&] { return lines->containing("[]"); };
    size_t before = calls();
    EXPECT_EQ(gateway->libraryVersion(), "1.6.194");
    EXPECT_EQ(calls(), before + 1);
    float version = gateway->sensorVersion();
    EXPECT_EQ(calls(), before + 2);
    EXPECT_EQ(gateway->lastConnectedFwVersion(), version);
    EXPECT_EQ(calls(), before + 4)
        << "lastConnectedFwVersion writes its own line and sensorVersion's";
}

TEST_F(GatewayTest, VersionsComeFromTheSettingsStore) {
    PelkData::shared()->setActiveSensorVersion(123);
    auto gateway = Gateway::create();
    EXPECT_FLOAT_EQ(gateway->sensorVersion(), 1.23f);
    EXPECT_FLOAT_EQ(gateway->lastConnectedFwVersion(), 1.23f);
}

TEST_F(GatewayTest, ZippedLogsArriveOnTheMainQueueAsAGzipArchive) {
    auto gateway = Gateway::create();
    Received<std::optional<std::filesystem::path>> got;
    gateway->requestZippedLogs(got.callback());
    ASSERT_TRUE(got.waitFor(1));
    auto entry = got.at(0);
    EXPECT_TRUE(entry.onMain);
    ASSERT_TRUE(entry.value);
    std::ifstream in(*entry.value, std::ios::binary);
    Data bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 0x1f);
    EXPECT_EQ(bytes[1], 0x8b);
    EXPECT_TRUE(gzipDecompress(bytes).has_value());
}

// MARK: connecting

TEST_F(GatewayTest, AStreamThatDoesNotOpenReportsError99OnTheMainQueue) {
    auto gateway = Gateway::create();
    Received<PelkSensorState> states;
    gateway->connect(unknownMfiSensor(), states.callback());
    ASSERT_TRUE(states.waitFor(1));
    auto e = states.at(0);
    EXPECT_TRUE(e.onMain);
    EXPECT_EQ(e.value, PelkSensorState::onError(PelkError::general("Could not open stream", 99)));
    EXPECT_EQ(gateway->status(), SensorConnectionStatus::errorOpeningConnection);
    EXPECT_EQ(lines->endingWith(" -> Error opening connection, could not open stream").size(), 1u);
    EXPECT_EQ(lines->containing("Attempting to connect to sensor FFFFFFFFFFFF"), 0u)
        << "the attempt line is an info line, not a public one";
    EXPECT_EQ(lines->containing("sensor: PelkSensor: name: Ostrel FFFF"), 1u);
    EXPECT_EQ(lines->containing("sensorListener: (Function)"), 1u);
}

TEST_F(GatewayTest, ABleSensorWithoutABleSessionDoesNotOpen) {
    auto gateway = Gateway::create();
    Received<PelkSensorState> states;
    gateway->connect(leSensor(), states.callback());
    ASSERT_TRUE(states.waitFor(1));
    EXPECT_EQ(states.at(0).value.kind(), PelkSensorState::Kind::onError);
    ASSERT_TRUE(states.at(0).value.error());
    EXPECT_EQ(states.at(0).value.error()->code(), 99);
}

TEST_F(GatewayTest, ConnectingWithoutASensorFailsLikeAStreamThatDoesNotOpen) {
    auto gateway = Gateway::create();
    Received<PelkSensorState> states;
    gateway->connect(nullptr, states.callback());
    ASSERT_TRUE(states.waitFor(1));
    EXPECT_TRUE(states.at(0).onMain);
    EXPECT_EQ(states.at(0).value,
              PelkSensorState::onError(PelkError::general("Could not open stream", 99)));
}

TEST_F(GatewayTest, AStatusForAReleasedGatewayIsDropped) {
    auto gateway = Gateway::create();
    Received<PelkSensorState> states;
    // Hold "GatewayQueue" so the status waits there until the gateway is gone.
    std::promise<void> release;
    auto held = release.get_future().share();
    Gateway::gatewayQueue()->async([held] { held.wait(); });
    gateway->connect(unknownMfiSensor(), states.callback());
    gateway.reset();
    release.set_value();
    drainQueues();
    EXPECT_EQ(states.size(), 0u);
}

TEST_F(GatewayTest, ConnectAndDisconnectWriteTheirInfoLinesToTheFile) {
    auto gateway = Gateway::create();
    Received<PelkSensorState> states;
    gateway->connect(unknownMfiSensor(), states.callback());
    ASSERT_TRUE(states.waitFor(1));
    auto le = leSensor();
    gateway->connect(le, states.callback());
    ASSERT_TRUE(states.waitFor(2));
    gateway->disconnect();
    // Records are not separated: a line's text is followed by the next line's "[" or the end.
    auto text = libraryLogText() + "[";
    EXPECT_NE(text.find(" -> Attempting to connect to sensor FFFFFFFFFFFF["), std::string::npos);
    // A BLE sensor by its peripheral's UUID text.
    ASSERT_TRUE(le->identifier());
    EXPECT_NE(text.find(" -> Attempting to connect to sensor " + *le->identifier() + "["),
              std::string::npos);
    EXPECT_NE(text.find(" -> disconnecting["), std::string::npos);
    EXPECT_EQ(lines->containing("disconnecting"), 0u) << "an info line, not a public one";
}

TEST_F(GatewayTest, PublicCallsLabelTheirClosureArguments) {
    auto gateway = Gateway::create();
    Received<std::optional<std::filesystem::path>> logs;
    gateway->requestZippedLogs(logs.callback());
    gateway->registerForConnectionUpdates([](std::shared_ptr<PelkSensor>, BroadcastStatus) {});
    gateway->disconnect();
    EXPECT_EQ(lines->endingWith(" -> Function Called: [\"closure: (Function)\"]").size(), 1u);
    EXPECT_EQ(lines->endingWith(" -> Function Called: [\"callback: (Function)\"]").size(), 1u);
    EXPECT_EQ(lines->endingWith(" -> Function Called: []").size(), 1u) << "disconnect()";
    ASSERT_TRUE(logs.waitFor(1));
}

TEST_F(GatewayTest, TheHostMaySetTheStatus) {
    auto gateway = Gateway::create();
    gateway->setStatus(SensorConnectionStatus::connected);
    EXPECT_TRUE(gateway->isConnected());
}

// MARK: sensors in reach

TEST_F(GatewayTest, ConnectedDevicesAndConnectionUpdatesFollowTheAccessory) {
    auto gateway = Gateway::create();
    Received<std::pair<std::shared_ptr<PelkSensor>, BroadcastStatus>> updates;
    auto cb = updates.callback();
    gateway->registerForConnectionUpdates([cb](std::shared_ptr<PelkSensor> s, BroadcastStatus b) {
        cb({std::move(s), b});
    });
    EXPECT_TRUE(gateway->connectedDevices().empty());

    auto sim = SimulatedAccessory::create();
    sim->plugIn();
    auto devices = gateway->connectedDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]->identifier(), "001A2B3C4D5E");
    EXPECT_TRUE(devices[0]->sensorType().isMfi());
    ASSERT_TRUE(updates.waitFor(1));
    EXPECT_EQ(updates.at(0).value.second, BroadcastStatus::appeared);

    // A later registration replaces the earlier callback; the session reports the
    // disappearance of the sensor it has open.
    Received<PelkSensorState> states;
    gateway->connect(devices[0], states.callback());
    ASSERT_TRUE(states.waitFor(1));
    Received<BroadcastStatus> later;
    auto cb2 = later.callback();
    gateway->registerForConnectionUpdates(
        [cb2](std::shared_ptr<PelkSensor>, BroadcastStatus b) { cb2(b); });
    sim->unplug();
    ASSERT_TRUE(later.waitFor(1));
    EXPECT_EQ(later.at(0).value, BroadcastStatus::disappeared);
    ASSERT_TRUE(states.waitFor(2));
    EXPECT_EQ(states.at(1).value, PelkSensorState::onSensorDisconnected());
    EXPECT_TRUE(states.at(1).onMain);
    drainQueues();
    EXPECT_EQ(updates.size(), 1u);
    EXPECT_TRUE(gateway->connectedDevices().empty());
    EXPECT_EQ(gateway->status(), SensorConnectionStatus::disconnected);
}

// MARK: the firmware hand-overs

TEST_F(GatewayTest, FirmwareOperationsRefuseABleSensor) {
    std::atomic<int> requests{0};
    srv.server.Get(".*", [&](const httplib::Request&, httplib::Response& res) {
        ++requests;
        res.status = 500;
    });
    startServer();
    auto gateway = Gateway::create();
    Received<PelkSensorState> states;
    gateway->connect(leSensor(), states.callback());
    ASSERT_TRUE(states.waitFor(1));

    Received<Result<std::string, FirmwareError>> version;
    gateway->requestLatestServerFirmware(version.callback());
    ASSERT_EQ(version.size(), 1u) << "refused at once";
    EXPECT_EQ(errorOf(version.at(0).value), FirmwareError::notSupported());

    Received<FirmwareDownloadState> download;
    gateway->downloadFirmware("4.10", download.callback());
    ASSERT_EQ(download.size(), 1u);
    EXPECT_EQ(download.at(0).value,
              FirmwareDownloadState::firmwareDownloadCompleted(
                  FirmwareDownloadStatus::downloadFailed(FirmwareError::notSupported())));

    Received<FirmwareUpdateState> update;
    gateway->startFirmwareUpdate(update.callback());
    ASSERT_EQ(update.size(), 1u);
    EXPECT_EQ(update.at(0).value, FirmwareUpdateState::notSupported());
    EXPECT_EQ(requests.load(), 0);
    auto text = libraryLogText() + "[";
    EXPECT_NE(text.find(" -> Downloading firmware for version key: 4.10["), std::string::npos);
    EXPECT_NE(text.find(" -> Could not download firmware as current sensor is incompatible["),
              std::string::npos);
    EXPECT_NE(text.find(" -> Tried to update firmware on an LE sensor which is not supported by "
                        "the library at this time["),
              std::string::npos);
}

TEST_F(GatewayTest, DownloadLogsTheKeyRequestsRecentAndKeepsTheImage) {
    std::mutex m;
    std::vector<std::string> keys;
    Data image(375, 0x20);
    srv.server.Get("/firmware/download", [&](const httplib::Request& req, httplib::Response& res) {
        {
            std::lock_guard lock(m);
            keys.push_back(req.get_param_value("versionKey"));
        }
        EXPECT_EQ(req.get_param_value("appVersion"), "1.6.194");
        EXPECT_EQ(req.get_param_value("isLe"), "false");
        res.set_content(std::string(image.begin(), image.end()), "application/octet-stream");
    });
    srv.server.Get("/firmware/version", [&](const httplib::Request& req, httplib::Response& res) {
        EXPECT_EQ(req.get_param_value("appVersion"), "1.6.194");
        EXPECT_EQ(req.get_param_value("currentVersion"), "405");
        EXPECT_EQ(req.get_param_value("isLe"), "false");
        res.set_content(R"({"version": "4.10"})", "application/json");
    });
    startServer();
    PelkData::shared()->setActiveSensorVersion(405);
    auto gateway = Gateway::create();

    Received<Result<std::string, FirmwareError>> version;
    gateway->requestLatestServerFirmware(version.callback());
    ASSERT_TRUE(version.waitFor(1));
    ASSERT_TRUE(version.at(0).value.has_value()) << describe(version.at(0).value.error());
    EXPECT_EQ(*version.at(0).value, "4.10");

    Received<FirmwareDownloadState> download;
    gateway->downloadFirmware("some-key", download.callback());
    ASSERT_TRUE(download.waitFor(2));
    EXPECT_EQ(download.at(0).value, FirmwareDownloadState::firmwareDownloadStarted());
    EXPECT_EQ(download.at(1).value, FirmwareDownloadState::firmwareDownloadCompleted(
                                        FirmwareDownloadStatus::downloadComplete()));
    {
        std::lock_guard lock(m);
        EXPECT_EQ(keys, std::vector<std::string>{"recent"});
    }
    EXPECT_EQ(gateway->firmwareUpdater()->fwData(), image);
    EXPECT_EQ(lines->containing("versionKey:some-key"), 1u);
    EXPECT_NE(libraryLogText().find(" -> Downloading firmware for version key: some-key"),
              std::string::npos);
}

TEST_F(GatewayTest, AFailedDownloadKeepsNoImage) {
    srv.server.Get("/firmware/download",
                   [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
    startServer();
    auto gateway = Gateway::create();
    Received<FirmwareDownloadState> download;
    gateway->downloadFirmware("recent", download.callback());
    ASSERT_TRUE(download.waitFor(2));
    auto last = download.at(1).value;
    ASSERT_EQ(last.kind(), FirmwareDownloadState::Kind::firmwareDownloadCompleted);
    ASSERT_TRUE(last.status());
    EXPECT_EQ(last.status()->kind(), FirmwareDownloadStatus::Kind::downloadFailed);
    EXPECT_FALSE(gateway->firmwareUpdater()->fwData());
}
