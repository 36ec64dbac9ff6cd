// The demo program as a user runs it: a separate process, the simulated sensor, the public API.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "support/QzdiagRun.hpp"

namespace {

using qz::testsupport::qzdiag;

class QzdiagTest : public qz::testsupport::QzdiagFixture {};

}  // namespace

TEST_F(QzdiagTest, InfoPrintsOneJsonDocumentOfTheSensor) {
    auto run = qzdiag(homeArg() + " --json info");
    auto doc = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << run.out;
    EXPECT_EQ(doc["command"], "info");
    EXPECT_EQ(doc["libraryVersion"], "1.6.194");
    EXPECT_EQ(doc["sensor"]["type"], "mfi");
    EXPECT_EQ(doc["sensor"]["identifier"], "001A2B3C4D5E");
    EXPECT_EQ(doc["disconnected"], true);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(doc["state"], "onSensorConnected(status: initialized)");
    EXPECT_EQ(doc["sensorVersion"], 4.05);
    EXPECT_EQ(doc["bus"], "CAN11_500");
}

TEST_F(QzdiagTest, InfoReadsTheGivenProfile) {
    auto run = qzdiag(homeArg() + " --vehicle '" + std::string(QZ_SOURCE_DIR) +
                      "/sim/profiles/kline-clean.json' --json info");
    auto doc = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << run.out;
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(doc["initialized"], true);
    EXPECT_EQ(doc["sensorVersion"], 4.02);
    EXPECT_EQ(doc["bus"], "ISO_9141");

    // A version the sensor never answers, on a home that has seen no sensor, or on this one,
    // which has the version it told before: not read, not 0, never the one told before.
    const std::string silent = qz::testsupport::profileVariant(
        home.path(), "default.json", "kqi-silent.json", {{"answers", {{"KQI", nullptr}}}});
    for (const std::string& homeOption :
         {"--home '" + (home.path() / "fresh").string() + "' ", homeArg() + " "}) {
        SCOPED_TRACE(homeOption);
        int status = -1;
        const std::string unread = qz::testsupport::runCommand(
            "env QZ_TIME_SCALE=0.1 " + std::string(QZ_BINARY_DIR) + "/qzdiag " + homeOption +
                silent + "info 2>/dev/null",
            &status);
        EXPECT_EQ(status, 0);
        EXPECT_NE(unread.find("Sensor version:  not read\n"), std::string::npos) << unread;
    }
}

TEST_F(QzdiagTest, ReadableTextByDefault) {
    auto run = qzdiag(homeArg() + " info");
    EXPECT_NE(run.out.find("Library version: 1.6.194"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Sensor state:"), std::string::npos);
    EXPECT_NE(run.out.find("Bus:"), std::string::npos);
}

TEST_F(QzdiagTest, LogsWritesTheArchiveUnderTheHome) {
    auto run = qzdiag(homeArg() + " --json logs");
    auto doc = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << run.out;
    EXPECT_EQ(run.status, 0);
    std::filesystem::path path = doc["path"].get<std::string>();
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(path.string().rfind(home.path().string(), 0), 0u) << path;
}

TEST_F(QzdiagTest, RejectsBadArguments) {
    EXPECT_EQ(qzdiag("").status, 64);
    EXPECT_EQ(qzdiag("frobnicate").status, 64);
    EXPECT_EQ(qzdiag("--vehicle").status, 64);
    auto missing = qzdiag(homeArg() + " --vehicle /nonexistent.json --json info");
    EXPECT_EQ(missing.status, 1);
    auto doc = nlohmann::json::parse(missing.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << missing.out;
    EXPECT_EQ(doc["ok"], false);
}
