// A firmware update handed over by the gateway: downloaded from the loopback firmware server,
// written through the MFi session into the simulated sensor in firmware mode.

#include <gtest/gtest.h>

#include "FirmwareServerTest.hpp"
#include "api/Firmware/SkiffUpdater.hpp"

using namespace qz;
using namespace qz::gwtest;
using qz::sim::VehicleProfile;

namespace {

class GatewayFirmwareUpdateTest : public FirmwareServerTest {
  protected:
    void SetUp() override {
        FirmwareServerTest::SetUp();
        plugIn(VehicleProfile::load(VehicleProfile::sampleFolder() / "recovery.json"));
    }
};

}  // namespace

TEST_F(GatewayFirmwareUpdateTest, WritesTheDownloadedImageOnGatewayQueue) {
    connect();
    download();
    Received<FirmwareUpdateState> update;
    gateway->startFirmwareUpdate(update.callback());
    ASSERT_TRUE(update.waitFor(6));
    auto heard = update.entries();
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(heard[i].value.kind(), FirmwareUpdateState::Kind::updateProgress) << i;
        EXPECT_TRUE(heard[i].onGatewayQueue);
    }
    EXPECT_FLOAT_EQ(heard[4].value.progress(), 1.0f);
    EXPECT_EQ(heard[5].value, FirmwareUpdateState::updateComplete());
    Data received;
    for (const auto& f : core->firmwareFrames())
        received.insert(received.end(), f.begin(), f.end());
    EXPECT_EQ(received, fw);
}

TEST_F(GatewayFirmwareUpdateTest, NothingIsWrittenWithoutADownloadedImage) {
    connect();
    Received<FirmwareUpdateState> update;
    gateway->startFirmwareUpdate(update.callback());
    ASSERT_TRUE(update.waitFor(1));
    EXPECT_EQ(update.at(0).value,
              FirmwareUpdateState::updateFailed(FirmwareUpdateError::firmwareNotDownloaded));
    EXPECT_TRUE(core->firmwareFrames().empty());
}
