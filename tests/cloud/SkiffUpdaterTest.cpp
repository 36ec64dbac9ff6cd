#include <gtest/gtest.h>

#include "api/Communication/PelkNotifications.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Firmware/SkiffUpdater.hpp"
#include "platform/Clock.hpp"
#include "platform/FileSystem.hpp"
#include "platform/NotificationCenter.hpp"
#include "sim/FakeSensorLink.hpp"
#include "support/FirmwareImage.hpp"

using namespace qz;

namespace {

using qz::testsupport::firmwareImage;

class SkiffUpdaterTest : public ::testing::Test {
  protected:
    ScopedHome home;
    std::shared_ptr<sim::FakeSensorLink> link = sim::FakeSensorLink::create();
    std::shared_ptr<Relay> relay = Relay::createWithSensor(link);
    SkiffUpdater updater;
    std::vector<FirmwareUpdateState> heard;

    FirmwareUpdateState run() {
        return updater.writeImage(relay, [&](FirmwareUpdateState s) { heard.push_back(s); });
    }
};

}  // namespace

TEST_F(SkiffUpdaterTest, WritesEveryBlockAndReportsProgressThenCompletion) {
    link->core().setFirmwareMode(true);
    Data fw = firmwareImage(10, 9);  // 101 frames: 5 blocks of at most 25 frames
    updater.setFwData(fw);
    EXPECT_EQ(run(), FirmwareUpdateState::updateComplete());
    std::vector<FirmwareUpdateState> expected;
    for (float p : {0.2f, 0.4f, 0.6f, 0.8f, 1.0f})
        expected.push_back(FirmwareUpdateState::updateProgress(p));
    expected.push_back(FirmwareUpdateState::updateComplete());
    EXPECT_EQ(heard, expected);
    Data received;
    for (const auto& f : link->core().firmwareFrames())
        received.insert(received.end(), f.begin(), f.end());
    EXPECT_EQ(received, fw);
    EXPECT_FALSE(updater.upgradeHasStarted);
}

TEST_F(SkiffUpdaterTest, RefusesWithoutAUsableImageOrLink) {
    link->core().setFirmwareMode(true);
    EXPECT_EQ(run(), FirmwareUpdateState::updateFailed(FirmwareUpdateError::firmwareNotDownloaded));
    Data fw = firmwareImage(2, 2);
    fw.pop_back();
    updater.setFwData(fw);
    EXPECT_EQ(run(), FirmwareUpdateState::updateFailed(FirmwareUpdateError::malformedPayload));
    EXPECT_TRUE(link->core().firmwareFrames().empty());
    updater.setFwData(firmwareImage(2, 2));
    EXPECT_EQ(updater.writeImage(Relay::createWithSensor(nullptr), {}),
              FirmwareUpdateState::updateFailed(FirmwareUpdateError::notConnected));
    EXPECT_EQ(updater.writeImage(nullptr, {}),
              FirmwareUpdateState::updateFailed(FirmwareUpdateError::notConnected));
    updater.upgradeHasStarted = true;
    EXPECT_EQ(run(), FirmwareUpdateState::updateFailed(FirmwareUpdateError::setupFailed));
    EXPECT_TRUE(updater.upgradeHasStarted);  // the running update keeps its flag
}

TEST_F(SkiffUpdaterTest, ASensorThatDoesNotAcknowledgeTimesOut) {
    ScopedClock clock(std::make_shared<ScaledClock>(0.01));
    // A sensor in command mode takes the frames as text and acknowledges nothing.
    updater.setFwData(firmwareImage(3, 3));
    EXPECT_EQ(run(), FirmwareUpdateState::updateFailed(FirmwareUpdateError::timeOut));
    EXPECT_EQ(heard.size(), 1u);
    EXPECT_FALSE(updater.upgradeHasStarted);
}

TEST_F(SkiffUpdaterTest, ADisconnectBeforeTheLastBlockEndsTheUpdate) {
    link->core().setFirmwareMode(true);
    updater.setFwData(firmwareImage(10, 9));
    auto state = updater.writeImage(relay, [&](FirmwareUpdateState s) {
        heard.push_back(s);
        if (heard.size() == 2)
            NotificationCenter::defaultCenter().post(PelkNotifications::SENSOR_DISCONNECTED);
    });
    EXPECT_EQ(state, FirmwareUpdateState::updateFailed(FirmwareUpdateError::unexpectedDisconnect));
    EXPECT_EQ(heard.size(), 3u);
    EXPECT_EQ(link->core().firmwareFrames().size(), 50u);
}
