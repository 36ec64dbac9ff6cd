// `qzdiag wifi` as a user runs it: a separate process, the simulated sensor, the public API.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/QzdiagRun.hpp"

namespace {

using qz::testsupport::qzdiag;

class QzdiagWiFiTest : public qz::testsupport::QzdiagFixture {};

}  // namespace

TEST_F(QzdiagWiFiTest, AppliesOrRefusesTheConfiguration) {
    struct Case {
        std::string args;
        int status;
        bool applied;
        nlohmann::json error;
    };
    const std::vector<Case> cases = {
        {"--ssid Home --password TOPS1CRIT", 0, true, nullptr},
        {"--ssid Cafe --security open --hidden --static "
         "192.168.1.20,255.255.255.0,192.168.1.1,1.1.1.1",
         0, true, nullptr},
        {"--ssid Home", 1, false, "passwordNotSet"},
        {"--ssid Home --security WEP --password x --static 10.0.0.2", 1, false, "gatewayNotSet"},
        {"--ssid Vienna --password x", 1, false, "invalidSsid"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        auto run = qzdiag(homeArg() + " --json wifi " + c.args);
        auto doc = nlohmann::json::parse(run.out, nullptr, false);
        ASSERT_FALSE(doc.is_discarded()) << run.out;
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(doc, (nlohmann::json{{"applied", c.applied}, {"error", c.error}}));
    }
}

TEST_F(QzdiagWiFiTest, PrintsTheOutcomeAndRejectsBadArguments) {
    auto ok = qzdiag(homeArg() + " wifi --ssid Home --password TOPS1CRIT --security wpa2");
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.out, "WiFi Configuration Successful\n");

    int status = 0;
    auto refused = qz::testsupport::runCommand(
        std::string(QZ_BINARY_DIR) + "/qzdiag " + homeArg() + " wifi --ssid Home 2>&1", &status);
    EXPECT_NE(WEXITSTATUS(status), 0);
    EXPECT_NE(refused.find("No password was provided."), std::string::npos) << refused;

    for (const char* args :
         {"--ssid", "--ssid Home --security wpa3",
          "--ssid Home --static 1.1.1.1,2.2.2.2,3.3.3.3,4.4.4.4,5.5.5.5", "--ssid Home stray"})
        EXPECT_EQ(qzdiag(homeArg() + " wifi " + args).status, 64) << args;
}
