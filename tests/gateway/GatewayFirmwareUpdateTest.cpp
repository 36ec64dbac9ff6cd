// A firmware update handed over by the gateway: downloaded from the loopback firmware server,
// written through the MFi session into the simulated sensor in firmware mode.

#include <gtest/gtest.h>

#include "GatewayTestSupport.hpp"
#include "api/Firmware/SkiffUpdater.hpp"
#include "sim/SimulatedAccessory.hpp"
#include "sim/VehicleProfile.hpp"

using namespace qz;
using namespace qz::gwtest;
using qz::sim::SensorCore;
using qz::sim::SimulatedAccessory;
using qz::sim::VehicleProfile;

namespace {

// `records` records of a header frame and `dataFrames` data frames, then the last frame.
Data image(int records, int dataFrames) {
    Data out;
    auto frame = [&](uint8_t kind, uint8_t fill) {
        out.push_back(kind);
        out.insert(out.end(), 14, fill);
    };
    for (int r = 0; r < records; ++r) {
        frame(0x01, static_cast<uint8_t>(r));
        for (int d = 0; d < dataFrames; ++d) frame(0x02, static_cast<uint8_t>(d));
    }
    frame(0x04, 0);
    return out;
}

class GatewayFirmwareUpdateTest : public GatewayTest {
  protected:
    void SetUp() override {
        GatewayTest::SetUp();
        srv.server.Get(
            "/firmware/download", [this](const httplib::Request&, httplib::Response& res) {
                res.set_content(std::string(fw.begin(), fw.end()), "application/octet-stream");
            });
        startServer();
        core = std::make_shared<SensorCore>(
            VehicleProfile::load(VehicleProfile::sampleFolder() / "recovery.json"));
        accessory = SimulatedAccessory::create(core);
        accessory->plugIn();
        gateway = Gateway::create();
    }
    void TearDown() override {
        gateway.reset();
        accessory->unplug();
        GatewayTest::TearDown();
    }
    void connect() {
        auto devices = gateway->connectedDevices();
        ASSERT_EQ(devices.size(), 1u);
        gateway->connect(devices[0], states.callback());
        ASSERT_TRUE(states.waitFor(1));
        ASSERT_EQ(states.at(0).value.kind(), PelkSensorState::Kind::onSensorConnected);
    }
    void download() {
        Received<FirmwareDownloadState> got;
        gateway->downloadFirmware("recent", got.callback());
        ASSERT_TRUE(got.waitFor(2));
        ASSERT_EQ(got.at(1).value, FirmwareDownloadState::firmwareDownloadCompleted(
                                       FirmwareDownloadStatus::downloadComplete()));
    }

    Data fw = image(10, 9);  // 101 frames: 5 blocks of 375 bytes at most
    std::shared_ptr<SensorCore> core;
    std::shared_ptr<SimulatedAccessory> accessory;
    std::shared_ptr<Gateway> gateway;
    Received<PelkSensorState> states;
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
