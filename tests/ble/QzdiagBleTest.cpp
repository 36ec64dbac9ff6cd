// The demo program over Bluetooth LE: every command through the simulated BGX13 module.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/QzdiagRun.hpp"

namespace {

using qz::testsupport::qzdiag;

class QzdiagBleTest : public qz::testsupport::QzdiagFixture {};

}  // namespace

TEST_F(QzdiagBleTest, EveryCommandRunsOverBle) {
    auto run = qzdiag(homeArg() + " --transport ble --json info");
    auto doc = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << run.out;
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(doc["sensor"]["type"], "le");
    EXPECT_EQ(doc["sensor"]["identifier"], "5D1E0B13-0B7E-4C1A-9A3F-0571E7B6A13C");
    EXPECT_EQ(doc["state"], "onSensorConnected(status: initialized)");
    EXPECT_EQ(doc["bus"], "CAN11_500");
    EXPECT_EQ(doc["disconnected"], true);

    for (const char* command : {"vin", "live 0C 0D", "smog", "logs"}) {
        SCOPED_TRACE(command);
        auto other = qzdiag(homeArg() + " --transport ble --json " + command);
        auto answer = nlohmann::json::parse(other.out, nullptr, false);
        ASSERT_FALSE(answer.is_discarded()) << other.out;
        EXPECT_EQ(other.status, 0) << other.out;
        EXPECT_FALSE(answer.contains("error")) << other.out;
    }
    EXPECT_NE(qzdiag(homeArg() + " --transport ble --json vin").out.find("1HGCM82633A004352"),
              std::string::npos);
    EXPECT_EQ(qzdiag(homeArg() + " --transport usb info").status, 64);
}
