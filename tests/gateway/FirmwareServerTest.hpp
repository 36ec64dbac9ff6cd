#pragma once

#include <string>

#include "GatewayTestSupport.hpp"
#include "SimulatedSensorTest.hpp"
#include "support/FirmwareImage.hpp"

namespace qz::gwtest {

// A simulated sensor test whose loopback firmware server hands out `fw`; plugIn() also
// creates the gateway.
class FirmwareServerTest : public SimulatedSensorTest {
  protected:
    void SetUp() override {
        SimulatedSensorTest::SetUp();
        srv.server.Get(
            "/firmware/download", [this](const httplib::Request&, httplib::Response& res) {
                res.set_content(std::string(fw.begin(), fw.end()), "application/octet-stream");
            });
        startServer();
    }
    void plugIn(sim::VehicleProfile profile = sim::VehicleProfile::builtIn()) {
        SimulatedSensorTest::plugIn(std::move(profile));
        gateway = Gateway::create();
    }
    // Connects to the one sensor in reach and waits for the connected state.
    void connect() {
        auto devices = gateway->connectedDevices();
        ASSERT_EQ(devices.size(), 1u);
        gateway->connect(devices[0], states.callback());
        ASSERT_TRUE(states.waitFor(1));
        ASSERT_EQ(states.at(0).value.kind(), PelkSensorState::Kind::onSensorConnected);
    }
    // Downloads the newest image and waits for the completed download.
    void download() {
        Received<FirmwareDownloadState> got;
        gateway->downloadFirmware("recent", got.callback());
        ASSERT_TRUE(got.waitFor(2));
        ASSERT_EQ(got.at(1).value, FirmwareDownloadState::firmwareDownloadCompleted(
                                       FirmwareDownloadStatus::downloadComplete()));
    }

    Data fw = testsupport::firmwareImage(10, 9);  // 101 frames: 5 blocks of 375 bytes at most
    Received<PelkSensorState> states;
};

}  // namespace qz::gwtest
