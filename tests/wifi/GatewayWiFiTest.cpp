// The Wi-Fi calls end to end: Gateway -> relay -> MFi session -> simulated accessory ->
// simulated sensor, and the log files read back.

#include <gtest/gtest.h>

#include <future>

#include "api/Utils/StringXor.hpp"
#include "api/WiFi/WiFiConfiguration.hpp"
#include "gateway/SimulatedSensorTest.hpp"
#include "sim/LinkScrambler.hpp"

using namespace qz;
using namespace qz::gwtest;
using qz::sim::Fault;

namespace {

using WiFiResult = Result<std::string, CommError>;

const WiFiResult kSuccess = std::string("WiFi Configuration Successful");

// A command as the simulated sensor reads it (the link scrambling turns "e" into ">").
std::string farSide(const std::string& command) {
    return sim::scrambleToString(sim::toBytes(xorString(command)));
}

class GatewayWiFiTest : public SimulatedSensorTest {
  protected:
    // Plugs the sensor in, connects and starts it up, and forgets the start-up commands.
    void connectSensor() {
        plugIn();
        gateway = Gateway::create();
        Received<PelkSensorState> states;
        auto sensors = gateway->connectedDevices();
        ASSERT_EQ(sensors.size(), 1u);
        gateway->connect(sensors.front(), states.callback());
        ASSERT_TRUE(states.waitFor(1));
        drainQueues();
        ASSERT_EQ(gateway->status(), SensorConnectionStatus::connected);
        core->clearCommands();
    }
};

}  // namespace

TEST_F(GatewayWiFiTest, SwitchesToWiFiModeWithOneCommandWhateverTheAnswer) {
    ASSERT_NO_FATAL_FAILURE(connectSensor());
    Received<WiFiResult> got;
    gateway->switchToWiFiMode(got.callback());
    ASSERT_TRUE(got.waitFor(1));
    core->addFault(Fault::unknown(1, "KQAX"));
    gateway->switchToWiFiMode(got.callback());
    ASSERT_TRUE(got.waitFor(2));
    drainQueues();

    EXPECT_EQ(core->commands(), (std::vector<std::string>{"KQAX", "KQAX"}));
    EXPECT_TRUE(core->wifiMode());
    ASSERT_EQ(got.size(), 2u);
    for (const auto& entry : got.entries()) {
        EXPECT_EQ(entry.value, kSuccess);
        EXPECT_TRUE(entry.onGatewayQueue);
    }
    EXPECT_EQ(lines->endingWith(" -> Function Called: [\"closure: (Function)\"]").size(), 2u);
    EXPECT_NE(libraryLogText().find(" -> Switching asTech to WiFi mode"), std::string::npos);
}

TEST_F(GatewayWiFiTest, SendsTheCommandsInOrderStopsAtAFailureAndNeverLogsThePassword) {
    const std::string ssid = "Café 東京 ☕";
    const std::string password = "TOPS1CRIT#42";
    auto config =
        WiFiConfiguration::create(ssid, password, WiFiSecurityType::WPA2, true, "192.168.1.20",
                                  "192.168.1.1", "1.1.1.1", "255.255.255.0");
    ASSERT_TRUE(config.has_value());
    std::vector<std::string> farCommands;
    for (const auto& command : config->generateKqCommands())
        farCommands.push_back(farSide(command));
    ASSERT_EQ(farCommands.size(), 10u);
    ASSERT_NO_FATAL_FAILURE(connectSensor());

    // Silent from the n-th command on (0: never); the echo repeats the password in replies.
    struct Run {
        bool echo;
        int answered;
        size_t sends;
        WiFiResult result;
    };
    const std::vector<Run> runs = {
        {false, 0, 10, kSuccess},
        {true, 0, 10, kSuccess},
        {true, 1, 2, std::unexpected(CommError::timedOut)},   // the password command
        {false, 2, 3, std::unexpected(CommError::timedOut)},  // the third command
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(::testing::Message() << "echo " << run.echo << ", answered " << run.answered);
        core->clearCommands();
        core->clearFaults();
        core->setEcho(run.echo);
        if (run.answered) core->addFault(Fault::silence(-1).after(run.answered));
        Received<WiFiResult> got;
        gateway->applyWiFiConfiguration(*config, got.callback());
        ASSERT_TRUE(got.waitFor(1));
        drainQueues();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got.at(0).value, run.result);
        EXPECT_TRUE(got.at(0).onGatewayQueue);
        const auto sent = core->commands();
        EXPECT_EQ(sent,
                  std::vector<std::string>(farCommands.begin(), farCommands.begin() + run.sends));
        // Byte for byte, non-ASCII text included.
        EXPECT_EQ(sent.at(0), "KQA$ config wifi p0 ssid \"" + ssid + "\"");
        EXPECT_EQ(sent.at(1), "KQA$ config wifi p0 pw \"" + password + "\"");
    }
    core->clearFaults();

    const std::string log = libraryLogText();
    EXPECT_EQ(log.find(password), std::string::npos);
    for (const auto& line : lines->lines()) EXPECT_EQ(line.find(password), std::string::npos);
    EXPECT_EQ(lines->containing("\"config: WiFiConfiguration(ssid: "), runs.size());
    EXPECT_EQ(lines->containing("password: \\\"***\\\""), runs.size());
    EXPECT_NE(log.find("-> KQA$ config wifi p0 pw \"***\""), std::string::npos);
    EXPECT_NE(log.find("<- KQA$ config wifi p0 pw \"***\"OK>"), std::string::npos) << log;
    EXPECT_NE(log.find("cmd: \"KQA$ config wifi p0 pw \"***\"\" timed out"), std::string::npos);
    EXPECT_NE(log.find(" -> Applying asTech WiFi configuration"), std::string::npos);
    EXPECT_NE(log.find(" -> timedOut"), std::string::npos);
}

TEST_F(GatewayWiFiTest, ReportsOnceWithoutASessionOrAGateway) {
    gateway = Gateway::create();
    auto config = WiFiConfiguration::create("Home", "TOPS1CRIT", WiFiSecurityType::WPA2, false);
    ASSERT_TRUE(config.has_value());
    Received<WiFiResult> got;
    gateway->switchToWiFiMode(got.callback());
    ASSERT_TRUE(got.waitFor(1));
    EXPECT_EQ(got.at(0).value, WiFiResult(std::unexpected(CommError::timedOut)));
    EXPECT_TRUE(got.at(0).onGatewayQueue);

    // A gateway released before its queued work runs.
    std::promise<void> open;
    Gateway::gatewayQueue()->async([gate = open.get_future().share()] { gate.wait(); });
    gateway->applyWiFiConfiguration(*config, got.callback());
    gateway.reset();
    open.set_value();
    ASSERT_TRUE(got.waitFor(2));
    drainQueues();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got.at(1).value, WiFiResult(std::unexpected(CommError::noDelegate)));
    EXPECT_TRUE(got.at(1).onGatewayQueue);
}
