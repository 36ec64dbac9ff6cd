// Firmware updates end to end: Gateway, the MFi session and the simulated sensor, through
// the loader hand-over and the restart into the new firmware.

#include <gtest/gtest.h>

#include "api/Communication/MFISessionController.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/Firmware/SkiffUpdater.hpp"
#include "gateway/FirmwareServerTest.hpp"
#include "logging/LogFileReader.hpp"
#include "sim/SimulatedAccessory.hpp"
#include "sim/VehicleProfile.hpp"

using namespace qz;
using namespace qz::gwtest;
using qz::sim::Fault;
using qz::sim::SensorCore;
using qz::sim::SimulatedAccessory;
using qz::sim::VehicleProfile;

namespace {

using Kind = FirmwareUpdateState::Kind;

class FirmwareUpdateTest : public FirmwareServerTest {
  protected:
    // Starts the update and waits for its final state (the last value the listener hears).
    FirmwareUpdateState runUpdate() {
        gateway->startFirmwareUpdate(update.callback());
        for (size_t n = 1; update.waitFor(n); ++n) {
            auto last = update.at(n - 1).value;
            if (last.kind() != Kind::updateProgress) return last;
        }
        ADD_FAILURE() << "the update never ended";
        return FirmwareUpdateState::notSupported();
    }
    Data written() const {
        Data out;
        for (const auto& f : core->firmwareFrames()) out.insert(out.end(), f.begin(), f.end());
        return out;
    }
    const std::shared_ptr<SessionController>& controller() const { return gateway->relay()->bt(); }
    void expectListenersCleared() {
        auto mfi = controller()->mfiController();
        EXPECT_FALSE(controller()->firmwareBroadcastListener());
        EXPECT_FALSE(controller()->firmwareStatusListener());
        EXPECT_FALSE(mfi->firmwareBroadcastListener());
        EXPECT_FALSE(mfi->firmwareStatusListener());
        EXPECT_FALSE(gateway->firmwareUpdater()->upgradeHasStarted);
    }

    // A slower clock than the other gateway tests: the restart must not outrun the main
    // queue's broadcast even under load.
    ScopedClock slower{std::make_shared<ScaledClock>(0.1)};
    Received<FirmwareUpdateState> update;
};

}  // namespace

TEST_F(FirmwareUpdateTest, AFullUpdateGoesThroughTheLoaderAndTheRestart) {
    plugIn();
    connect();
    download();
    const int before = accessory->sessionsOpened();
    // While the blocks go out, the worker's callbacks sit in the firmware slots of both the
    // controller and the MFi session, which carries a firmware session.
    std::atomic<int> installed{0};
    auto record = update.callback();
    auto mfi = controller()->mfiController();
    gateway->startFirmwareUpdate([&, record, mfi](FirmwareUpdateState state) {
        if (state == FirmwareUpdateState::updateProgress(0.2f))
            installed = (controller()->firmwareBroadcastListener() ? 1 : 0) +
                        (mfi->firmwareBroadcastListener() ? 1 : 0) +
                        (mfi->firmwareStatusListener() ? 1 : 0) + (mfi->fwSession() ? 1 : 0);
        record(state);
    });
    // Returns at once: the recovery probe alone takes a clock wait on "GatewayQueue".
    EXPECT_EQ(update.size(), 0u);
    ASSERT_TRUE(update.waitFor(6));
    auto heard = update.entries();
    ASSERT_EQ(heard.size(), 6u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(heard[i].value.kind(), Kind::updateProgress) << i;
        EXPECT_FLOAT_EQ(heard[i].value.progress(), static_cast<float>(i + 1) / 5.0f);
        EXPECT_TRUE(heard[i].onGatewayQueue);
    }
    EXPECT_EQ(heard[5].value, FirmwareUpdateState::updateComplete());
    EXPECT_TRUE(heard[5].onGatewayQueue);
    EXPECT_EQ(installed, 4);
    EXPECT_EQ(written(), fw);
    EXPECT_FALSE(gateway->firmwareUpdater()->inRecovery);

    // The sensor was asked into its loader, which got a firmware session of its own.
    auto commands = core->commands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "KQFW"), commands.end());
    EXPECT_EQ(core->reboots(), 1);
    expectListenersCleared();

    // After the restart the sensor gets an ordinary session with the app's listener and is
    // initialised again; the app heard no disconnect on the way.
    ASSERT_TRUE(states.waitFor(2));
    EXPECT_EQ(states.at(1).value,
              PelkSensorState::onSensorConnected(PelkSensorStatus::initialized));
    for (const auto& s : states.entries())
        EXPECT_NE(s.value.kind(), PelkSensorState::Kind::onSensorDisconnected);
    EXPECT_EQ(accessory->sessionsOpened(), before + 2);  // the loader's, then after the restart
    EXPECT_FALSE(mfi->autoReconnect());
    EXPECT_FALSE(mfi->fwSession());
    EXPECT_FALSE(core->firmwareMode());
    // The sensor answers commands again through the relay.
    std::optional<Result<std::string, CommError>> version;
    Gateway::gatewayQueue()->sync([&] { version = gateway->relay()->sendToSensor("KQI"); });
    ASSERT_TRUE(version && *version);
    EXPECT_NE((*version)->find("OSAPI"), std::string::npos);
}

TEST_F(FirmwareUpdateTest, ASensorInRecoveryTakesTheImageOnItsOpenLinkAndComesBack) {
    plugIn(VehicleProfile::load(VehicleProfile::sampleFolder() / "recovery.json"));
    connect();
    EXPECT_EQ(states.at(0).value,
              PelkSensorState::onSensorConnected(PelkSensorStatus::recoveryMode));
    download();
    EXPECT_EQ(runUpdate(), FirmwareUpdateState::updateComplete());
    EXPECT_TRUE(gateway->firmwareUpdater()->inRecovery);
    EXPECT_EQ(written(), fw);
    auto commands = core->commands();
    EXPECT_EQ(std::find(commands.begin(), commands.end(), "KQFW"), commands.end());
    expectListenersCleared();
    // The ordinary session's drop is reported; autoReconnect brings the sensor back.
    ASSERT_TRUE(states.waitFor(3));
    EXPECT_EQ(states.at(1).value, PelkSensorState::onSensorDisconnected());
    EXPECT_EQ(states.at(2).value,
              PelkSensorState::onSensorConnected(PelkSensorStatus::initialized));
}

TEST_F(FirmwareUpdateTest, RefusalsAreImmediateAndLogged) {
    plugIn();
    Received<FirmwareUpdateState> refused;
    // Not connected, no image.
    gateway->startFirmwareUpdate(refused.callback());
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused.at(0).value,
              FirmwareUpdateState::updateFailed(FirmwareUpdateError::firmwareNotDownloaded));
    EXPECT_NE(libraryLogText().find("Tried to install firmware without downloading it first"),
              std::string::npos);

    // An image but no link.
    gateway->firmwareUpdater()->setFwData(fw);
    gateway->startFirmwareUpdate(refused.callback());
    ASSERT_EQ(refused.size(), 2u);
    EXPECT_EQ(refused.at(1).value,
              FirmwareUpdateState::updateFailed(FirmwareUpdateError::notConnected));
    EXPECT_NE(libraryLogText().find("Tried to install firmware while disconnected"),
              std::string::npos);

    // A BLE sensor handed straight to the updater (the gateway itself answers notSupported).
    controller()->connect(PelkSensor::create("Ostrel BLE", SensorType::le(UUID::random())), {});
    gateway->firmwareUpdater()->startUpdate(gateway->vehicle(), refused.callback());
    ASSERT_EQ(refused.size(), 3u);
    EXPECT_EQ(refused.at(2).value,
              FirmwareUpdateState::updateFailed(FirmwareUpdateError::notConnected));
    EXPECT_TRUE(core->firmwareFrames().empty());
}

TEST_F(FirmwareUpdateTest, AMalformedImageIsRefusedBeforeAnythingIsWritten) {
    plugIn();
    connect();
    fw.resize(fw.size() - 15);  // no last frame
    download();
    Received<FirmwareUpdateState> refused;
    gateway->startFirmwareUpdate(refused.callback());
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused.at(0).value,
              FirmwareUpdateState::updateFailed(FirmwareUpdateError::malformedPayload));
    drainQueues();
    EXPECT_TRUE(core->firmwareFrames().empty());
    EXPECT_TRUE(core->commands().size() > 0);
    auto commands = core->commands();
    EXPECT_EQ(std::find(commands.begin(), commands.end(), "KQFW"), commands.end());
}

TEST_F(FirmwareUpdateTest, ASecondUpdateWhileOneRunsFailsSetup) {
    plugIn();
    connect();
    download();
    gateway->startFirmwareUpdate(update.callback());
    Received<FirmwareUpdateState> second;
    gateway->startFirmwareUpdate(second.callback());
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second.at(0).value,
              FirmwareUpdateState::updateFailed(FirmwareUpdateError::setupFailed));
    ASSERT_TRUE(update.waitFor(6));
    EXPECT_EQ(update.at(5).value, FirmwareUpdateState::updateComplete());
    EXPECT_EQ(written(), fw);  // written once
}

TEST_F(FirmwareUpdateTest, ASensorThatRefusesTheLoaderFailsSetup) {
    plugIn();
    connect();
    download();
    core->addFault(Fault::unknown(1, "KQFW"));
    const int sessions = accessory->sessionsOpened();
    EXPECT_EQ(runUpdate(), FirmwareUpdateState::updateFailed(FirmwareUpdateError::setupFailed));
    EXPECT_TRUE(core->firmwareFrames().empty());
    expectListenersCleared();
    // The link stays as it was.
    EXPECT_TRUE(accessory->sessionOpen());
    EXPECT_EQ(accessory->sessionsOpened(), sessions);
}

TEST_F(FirmwareUpdateTest, ASilentSensorTimesOut) {
    plugIn();
    connect();
    download();
    core->addFault(Fault::silence(1, "KQFW"));
    EXPECT_EQ(runUpdate(), FirmwareUpdateState::updateFailed(FirmwareUpdateError::timeOut));
    expectListenersCleared();
}

TEST_F(FirmwareUpdateTest, ASensorThatDoesNotRestartTimesOut) {
    plugIn();
    connect();
    download();
    core->setRebootsAfterUpdate(false);
    gateway->firmwareUpdater()->rebootWaitSeconds = 2.0;
    EXPECT_EQ(runUpdate(), FirmwareUpdateState::updateFailed(FirmwareUpdateError::timeOut));
    EXPECT_EQ(written(), fw);
    expectListenersCleared();
}

TEST_F(FirmwareUpdateTest, ALoaderThatNeverAppearsTimesOut) {
    plugIn();
    connect();
    download();
    gateway->firmwareUpdater()->loaderWaitSeconds = 2.0;
    // The sensor agrees but its loader never connects.
    core->addHandler([](const std::string& cmd) -> std::optional<std::string> {
        if (cmd == "KQFW") return "OK";
        return std::nullopt;
    });
    EXPECT_EQ(runUpdate(), FirmwareUpdateState::updateFailed(FirmwareUpdateError::timeOut));
    EXPECT_TRUE(core->firmwareFrames().empty());
    expectListenersCleared();
}

TEST_F(FirmwareUpdateTest, TheSensorDroppingOutMidTransferIsAnUnexpectedDisconnect) {
    plugIn();
    connect();
    download();
    auto progress = update.callback();
    gateway->startFirmwareUpdate([&, progress](FirmwareUpdateState state) {
        progress(state);
        // Pulled out after the first block.
        if (state == FirmwareUpdateState::updateProgress(0.2f)) accessory->unplug();
    });
    ASSERT_TRUE(update.waitFor(2));
    EXPECT_EQ(update.at(1).value,
              FirmwareUpdateState::updateFailed(FirmwareUpdateError::unexpectedDisconnect));
    EXPECT_EQ(written().size(), 375u);
    drainQueues();
    expectListenersCleared();
}
