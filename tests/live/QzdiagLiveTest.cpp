// qzdiag's live-data commands as a user runs them: a separate process, the simulated sensor.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "logging/LogFileReader.hpp"
#include "support/QzdiagRun.hpp"

namespace {

using qz::testsupport::qzdiag;

class QzdiagLive : public qz::testsupport::QzdiagFixture {
  protected:
    std::string vehicle(const char* profile) const {
        return " --vehicle '" + std::string(QZ_SOURCE_DIR) + "/sim/profiles/" + profile + "'";
    }
};

}  // namespace

TEST_F(QzdiagLive, VinIsReadCheckedAndDecoded) {
    auto run = qzdiag(homeArg() + " --json vin");
    ASSERT_EQ(run.status, 0) << run.out;
    auto doc = nlohmann::json::parse(run.out);
    EXPECT_EQ(doc["vin"], "1HGCM82633A004352");
    EXPECT_EQ(doc["year"], 2003);
    EXPECT_EQ(doc["make"], "Honda");
    EXPECT_EQ(doc["parent"], "Honda");
}

TEST_F(QzdiagLive, LiveListsEveryParameterObjectOfTheListedPids) {
    auto run = qzdiag(homeArg() + " --json live 0C 01 A6");
    ASSERT_EQ(run.status, 0) << run.out;
    auto doc = nlohmann::json::parse(run.out);
    ASSERT_TRUE(doc.is_array());
    bool sawRpm = false, sawMil = false, sawOdometer = false;
    for (auto& p : doc) {
        ASSERT_TRUE(p.contains("name") && p.contains("shortName") && p.contains("text") &&
                    p.contains("unit") && p.contains("value") && p.contains("supported"));
        if (p["pid"] == "0C") {
            sawRpm = true;
            EXPECT_EQ(p["value"], 1726.0);
            EXPECT_EQ(p["unit"], "RPM");
            EXPECT_EQ(p["text"], "1726.0 RPM");
            EXPECT_EQ(p["supported"], true);
        }
        if (p["shortName"] == "MIL") {
            sawMil = true;
            EXPECT_EQ(p["value"], true);
        }
        if (p["pid"] == "A6") {
            sawOdometer = true;
            EXPECT_EQ(p["supported"], false);
            EXPECT_TRUE(p["value"].is_null());
        }
    }
    EXPECT_TRUE(sawRpm && sawMil && sawOdometer);
}

TEST_F(QzdiagLive, LiveRefreshesEverySupportedParameterOfAFullVehicle) {
    auto run = qzdiag(homeArg() + vehicle("live-full.json") + " --json live");
    ASSERT_EQ(run.status, 0) << run.out;
    auto doc = nlohmann::json::parse(run.out);
    ASSERT_GT(doc.size(), 250u);
    size_t withValue = 0;
    for (auto& p : doc) {
        EXPECT_EQ(p["supported"], true);
        withValue += !p["value"].is_null();
    }
    EXPECT_GT(withValue, 200u);
}

TEST_F(QzdiagLive, LiveRefreshesEachSupportedPidNumberOnce) {
    auto run = qzdiag(homeArg() + vehicle("live-full.json") + " --json live");
    ASSERT_EQ(run.status, 0) << run.out;
    std::set<std::string> numbers;
    for (auto& p : nlohmann::json::parse(run.out)) numbers.insert(p["pid"].get<std::string>());
    // The refreshes in the program's log.
    qz::FileLog log(home.path() / "scratch");
    size_t refreshes = 0;
    for (const auto& record : qz::testing::parseRecords(qz::testsupport::readFileBytes(
             home.path() / "app" / "Documents" / "Logs" / "pelklog-0.log"))) {
        auto plain =
            qz::AES256Encryption::originalDataWithHexKey(record.ciphertext, log.key(), log.iv());
        ASSERT_TRUE(plain);
        refreshes +=
            std::string(plain->begin(), plain->end()).find("Requesting to update data for PID") !=
            std::string::npos;
    }
    EXPECT_GT(numbers.size(), 100u);
    EXPECT_EQ(refreshes, numbers.size());
}

TEST_F(QzdiagLive, SmogPrintsTheVerdictAndFigures) {
    auto run = qzdiag(homeArg() + " --json smog");
    auto doc = nlohmann::json::parse(run.out);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(doc["verdict"], "fail");  // MIL on, one stored code
    EXPECT_EQ(doc["milOn"], true);
    EXPECT_EQ(doc["numConfirmed"], 1);
    EXPECT_EQ(doc["runTimeSinceEngineStart"]["value"], 300.0);
    EXPECT_EQ(doc["runTimeSinceEngineStart"]["error"], nullptr);

    // A counter the vehicle gives whose request stalls is not read, not "not given".
    const std::string stalled = qz::testsupport::profileVariant(
        home.path(), "default.json", "run-time-stalled.json", {{"answers", {{"011F", nullptr}}}});
    auto json = qzdiag(homeArg() + " " + stalled + "--json smog");
    ASSERT_EQ(json.status, 0) << json.out;
    const auto figure = nlohmann::json::parse(json.out)["runTimeSinceEngineStart"];
    EXPECT_EQ(figure["supported"], true);
    EXPECT_EQ(figure["value"], nullptr);
    EXPECT_EQ(figure["error"], "timedOut");
    auto text = qzdiag(homeArg() + " " + stalled + "smog");
    EXPECT_NE(
        text.out.find("\nRun Time Since Engine Start: not read (the sensor did not answer)\n"),
        std::string::npos)
        << text.out;
}

TEST_F(QzdiagLive, LiveAndSmogRunOnEveryShippedProfile) {
    size_t profiles = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(QZ_SOURCE_DIR) + "/sim/profiles")) {
        if (entry.path().extension() != ".json") continue;
        ++profiles;
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        std::ifstream in(entry.path());
        const bool recovery =
            nlohmann::json::parse(in).value("/sensor/recovery"_json_pointer, false);
        auto run = qzdiag(homeArg() + vehicle(name.c_str()) + " --json live");
        auto doc = nlohmann::json::parse(run.out, nullptr, false);
        ASSERT_FALSE(doc.is_discarded()) << run.out;
        auto smog = qzdiag(homeArg() + vehicle(name.c_str()) + " --json smog");
        auto verdict = nlohmann::json::parse(smog.out, nullptr, false);
        ASSERT_FALSE(verdict.is_discarded()) << smog.out;
        if (recovery || name == "no-vehicle.json") {
            // A sensor in firmware recovery mode has no live data and gives no verdict, and
            // without a vehicle neither the supported parameters nor a verdict can be read: a
            // clean refusal.
            EXPECT_EQ(run.status, recovery ? 2 : 1);
            EXPECT_EQ(doc["ok"], false);
            EXPECT_EQ(smog.status, recovery ? 2 : 1);
            EXPECT_EQ(verdict["error"], recovery
                                            ? "the sensor is in firmware recovery mode: update "
                                              "its firmware first"
                                            : "the smog check failed: the vehicle did not "
                                              "answer 0100 (no vehicle, or its ignition is "
                                              "off)");
            continue;
        }
        ASSERT_TRUE(doc.is_array()) << run.out;
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_FALSE(doc.empty());
        for (const auto& p : doc) {
            EXPECT_EQ(p["supported"], true) << p.dump();
            EXPECT_NE(p["text"], "Unsupported") << p.dump();
        }
        // Every vehicle that stands for a running car gives a verdict from its monitors.
        EXPECT_EQ(smog.status, 0) << smog.out;
        EXPECT_TRUE(verdict["verdict"] == "pass" || verdict["verdict"] == "warning" ||
                    verdict["verdict"] == "fail")
            << smog.out;
        EXPECT_EQ(verdict["monitorStatus"].get<std::string>().find("monitorType: unknown"),
                  std::string::npos)
            << smog.out;
    }
    EXPECT_GE(profiles, 6u);
}
