// qzdiag's command-line conventions as a user meets them: --version, COMMAND --help, "--",
// the documented exit statuses and failures in words, values rounded for people, modules named
// by acronym in any letter case, by name or by position.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/QzdiagRun.hpp"

namespace {

class QzdiagConventions : public qz::testsupport::QzdiagFixture {
  protected:
    // Runs qzdiag in the test's home with the demo's waits scaled down and no backend;
    // `withErrors` keeps standard error in the output.
    qz::testsupport::QzdiagRun run(const std::string& args, bool withErrors = false) const {
        return runTo(args, withErrors ? " 2>&1" : " 2>/dev/null");
    }
    // The same, standard error kept apart; `shell` runs first in the same shell.
    qz::testsupport::QzdiagRun runApart(const std::string& args,
                                        const std::string& shell = "") const {
        const auto err = home.path() / "stderr.txt";
        auto ran = runTo(args, " 2>'" + err.string() + "'", shell);
        ran.err = qz::testsupport::text(qz::testsupport::readFileBytes(err));
        return ran;
    }
    qz::testsupport::QzdiagRun runTo(const std::string& args, const std::string& errors,
                                     const std::string& shell = "") const {
        qz::testsupport::QzdiagRun run;
        int rc = -1;
        run.out = qz::testsupport::runCommand(
            shell + "env QZ_TIME_SCALE=0.1 QZ_BACKEND_HOST=http://127.0.0.1:9 " +
                std::string(QZ_BINARY_DIR) + "/qzdiag " + homeArg() + " " + args + errors,
            &rc);
        run.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
        return run;
    }
    static std::string vehicle(const std::string& profile) {
        return "--vehicle '" + std::string(QZ_SOURCE_DIR) + "/sim/profiles/" + profile + "' ";
    }
};

}  // namespace

TEST_F(QzdiagConventions, VersionAndEveryCommandsHelpWithTheExitStatuses) {
    auto version = run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "qzdiag 1.6.194\n");

    auto help = run("--help");
    EXPECT_EQ(help.status, 0);
    for (const char* command : {"info", "logs", "vin", "live", "smog", "wifi", "scan", "clear"}) {
        SCOPED_TRACE(command);
        EXPECT_NE(help.out.find(std::string("\n  ") + command), std::string::npos);
        for (const char* form : {" --help", " -h"}) {
            auto own = run(std::string(command) + form);
            EXPECT_EQ(own.status, 0);
            EXPECT_EQ(own.out.rfind(std::string("usage: qzdiag [OPTIONS] ") + command, 0), 0u)
                << own.out;
            for (const char* status :
                 {"\n  0   success", "\n  1   the operation failed",
                  "\n  2   the sensor is in firmware recovery mode", "\n  64  usage error"})
                EXPECT_NE(own.out.find(status), std::string::npos) << status;
        }
    }
    EXPECT_EQ(run("frobnicate --help").status, 64);
}

TEST_F(QzdiagConventions, DoubleDashEndsTheOptions) {
    EXPECT_EQ(run("-- info").status, 0);
    auto json = run("live --json 0C");
    EXPECT_EQ(json.status, 0);
    EXPECT_TRUE(nlohmann::json::parse(json.out, nullptr, false).is_array()) << json.out;
    // After "--" an option's spelling is an argument: here a PID number that is none.
    auto argument = run("live -- --json", true);
    EXPECT_EQ(argument.status, 64);
    EXPECT_EQ(argument.out, "qzdiag: not a PID number: --json\n");
    // And the acronym of a module.
    auto acronym = run("clear -- -OBD", true);
    EXPECT_EQ(acronym.status, 1);
    EXPECT_EQ(acronym.out,
              "qzdiag: the scan reported no module -OBD (it found OBD); nothing was cleared\n");
}

TEST_F(QzdiagConventions, ExitStatusesSaySuccessFailureRecoveryOrUsage) {
    // A vehicle whose VIN fails its check digit (the year's letter changed: 4 for 3).
    auto profile = nlohmann::json::parse(qz::testsupport::text(
        qz::testsupport::readFileBytes(std::string(QZ_SOURCE_DIR) + "/sim/profiles/default.json")));
    profile["vin"] = "1HGCM82634A004352";
    qz::testsupport::writeText(home.path() / "bad-vin.json", profile.dump());
    auto variant = [&](const std::string& profile, const std::string& name,
                       const nlohmann::json& sensor) {
        return qz::testsupport::profileVariant(home.path(), profile, name, sensor);
    };
    // The BMW of the sample profiles, its air conditioning (fourth in a scan) silent today.
    auto bmw = nlohmann::json::parse(qz::testsupport::text(
        qz::testsupport::readFileBytes(std::string(QZ_SOURCE_DIR) + "/sim/profiles/bmw.json")));
    bmw["modules"].erase(4);
    qz::testsupport::writeText(home.path() / "bmw-shifted.json", bmw.dump());
    const std::string shifted = "--vehicle '" + (home.path() / "bmw-shifted.json").string() + "' ";
    // The Chrysler with its CAN units silent: the J1850 PCM, of the same name and acronym as
    // the CAN one, stands at @1.
    auto chrysler = nlohmann::json::parse(qz::testsupport::text(qz::testsupport::readFileBytes(
        std::string(QZ_SOURCE_DIR) + "/sim/profiles/chrysler.json")));
    auto& units = chrysler["modules"];
    units.erase(units.begin(), std::find_if(units.begin(), units.end(), [](const auto& m) {
                    return m["name"] == "PCM (J1850 VPW)";
                }));
    qz::testsupport::writeText(home.path() / "chrysler-j1850.json", chrysler.dump());
    const std::string j1850 = "--vehicle '" + (home.path() / "chrysler-j1850.json").string() + "' ";
    // The record of the last scan shown, and what reading it says.
    const auto record =
        home.path() / "app" / "Library" / "Application Support" / "qzdiag-last-scan.json";
    auto writeRecord = [record](const std::string& text) {
        return [record, text] {
            std::filesystem::remove_all(record);
            qz::testsupport::writeText(record, text);
        };
    };
    auto unreadable = [&](const std::string& why) {
        return "qzdiag: the record of the last scan shown cannot be read: " + record.string() +
               " " + why + " (run qzdiag scan again); nothing was cleared\n";
    };
    const std::string damagedModule = unreadable("is damaged: its module 1 is not a module");
    const std::string noScanShown =
        "qzdiag: no scan has been shown yet to say which module @1 is (run qzdiag scan first); "
        "nothing was cleared\n";
    // A scan that could not be kept, and why; what a later position says of it.
    const std::string folder = record.parent_path().string();
    auto notKept = [&](const std::string& why) {
        return "qzdiag: the scan shown could not be kept for a later clear @N (" + why + ")\n";
    };
    auto clearNotKept = [&](const std::string& why) {
        return "qzdiag: the last scan shown could not be kept for a later clear @N (" + why +
               "), so nothing says which module @1 is; nothing was cleared\n";
    };
    const std::string recovery =
        "qzdiag: the sensor is in firmware recovery mode: update its firmware first\n";
    const std::string noVehicle =
        "qzdiag: the smog check failed: the vehicle did not answer 0100 (no vehicle, or its "
        "ignition is off)\n";
    struct Case {
        std::string args;
        int status;
        std::string said = {};                  // all of standard error, when given
        std::optional<std::string> shown = {};  // all of standard output, when given
        std::function<void()> before = {};      // done to the home first
        std::string shell = {};                 // run first in qzdiag's shell
    };
    // In order: a position names the module of the last scan shown before it.
    const std::vector<Case> cases = {
        {"clear @1", 1, noScanShown},
        {"scan", 0},
        {"clear @2", 1,
         "qzdiag: the last scan shown reported no module @2 (it reported 1 module, @1); nothing "
         "was cleared\n"},
        {"clear @1", 0, "", "Cleared OBD\n"},  // the last position
        {vehicle("bmw.json") + "scan", 0},
        // The clear's own scan misses a module: what stands at @4 now is not cleared.
        {shifted + "--json clear @4", 1,
         "A Keyflick is required before this scan.\nqzdiag: @4 was Integrated Automatic Heating "
         "and Air Conditioning (BMWVB33IHKA-80) in the last scan shown, but this scan has Tyre "
         "Pressure Control (BMWVB33RDC-70) at @4; nothing was cleared\n"},
        // Shorter than the position: nothing stands there.
        {shifted + "clear @6", 1,
         "qzdiag: @6 was Emissions (OBD) in the last scan shown, but this scan has no module @6; "
         "nothing was cleared\n"},
        {"clear @1", 1,
         "qzdiag: the last scan shown was of another vehicle (WBAVB33526PX12345); nothing was "
         "cleared\n"},
        // A position of a check-engine scan is checked against one.
        {vehicle("bmw.json") + "scan cel", 0},
        {vehicle("bmw.json") + "clear @1", 0, "", "Cleared OBD\n"},
        // Another unit of the same name and acronym at the position is not the one shown.
        {vehicle("chrysler.json") + "scan", 0},
        {j1850 + "clear @1", 1,
         "qzdiag: @1 was Powertrain Control Module (PCM, request ID 7E0) in the last scan shown, "
         "but this scan has Powertrain Control Module (PCM, request ID 10) at @1; nothing was "
         "cleared\n"},
        // Nor one of the same name under another acronym.
        {"scan", 0},
        {"clear @1", 1,
         "qzdiag: @1 was Emissions (ECM) in the last scan shown, but this scan has Emissions "
         "(OBD) at @1; nothing was cleared\n",
         std::nullopt,
         [record] {
             auto doc = nlohmann::json::parse(
                 qz::testsupport::text(qz::testsupport::readFileBytes(record)));
             doc["modules"][0]["acronym"] = "ECM";
             qz::testsupport::writeText(record, doc.dump());
         }},
        // A position is a number from 1, before any scan.
        {"clear @abc", 64, "qzdiag: not a position: @abc (a module's position is @1, @2, ...)\n",
         ""},
        {"--json clear @-1", 64,
         "qzdiag: not a position: @-1 (a module's position is @1, @2, ...)\n"},
        // A damaged record clears nothing and says why.
        {"--json clear @1", 1, damagedModule, std::nullopt,
         writeRecord(R"({"format":2,"vin":null,"scanType":"all","modules":[1,2]})")},
        {"--json clear @1", 1, damagedModule, std::nullopt,
         writeRecord(R"({"format":2,"vin":null,"scanType":"all","modules":["ECM"]})")},
        {"--json clear @1", 1, damagedModule, std::nullopt,
         writeRecord(R"({"format":2,"vin":null,"scanType":"all","modules":[{"name":5,)"
                     R"("acronym":"OBD","requestId":"","responseId":"","line":""}]})")},
        {"--json clear @1", 1, damagedModule, std::nullopt,
         writeRecord(R"({"vin":null,"modules":[{"name":null,"acronym":"OBD"}]})")},
        {"--json clear @1", 1, unreadable("is damaged: it holds no JSON document"), std::nullopt,
         writeRecord(R"({"vin":null,"modu)")},
        {"--json clear @1", 1, unreadable("is damaged: it holds no list of modules"), std::nullopt,
         writeRecord("[]")},
        // A record of an older qzdiag does not say which of two units of one name it was.
        {"--json clear @1", 1,
         "qzdiag: the record of the last scan shown (" + record.string() +
             ") comes from an older qzdiag, which kept no more than names and acronyms: it does "
             "not say which unit @1 was (run qzdiag scan again); nothing was cleared\n",
         std::nullopt,
         writeRecord(
             R"({"vin":"1HGCM82633A004352","modules":[{"name":"Emissions","acronym":"OBD"}]})")},
        // A folder where the record goes: it is neither written nor read.
        {"scan", 0,
         "qzdiag: the scan shown could not be kept for a later clear @N (" + record.string() +
             ": Is a directory)\n",
         std::nullopt,
         [record] {
             std::filesystem::remove_all(record);
             std::filesystem::create_directories(record);
         }},
        {"--json clear @1", 1,
         "qzdiag: the record of the last scan shown cannot be read: " + record.string() +
             " is a folder (move it away, then run qzdiag scan); nothing was cleared\n"},
        // A record that cannot be written whole (files limited to 1 KiB, as on a full disk)
        // leaves none of the scan before: the position names nothing, and says why.
        {"scan", 0, "", std::nullopt, [record] { std::filesystem::remove_all(record); }},
        {vehicle("ford.json") + "scan",
         0,
         notKept(record.string() + ": File too large"),
         std::nullopt,
         {},
         "trap '' XFSZ; ulimit -f 1; "},
        {"clear @1", 1, clearNotKept(record.string() + ": File too large")},
        // A folder that takes no new file (as a read-only one; here the temporary file's name is
        // taken, whoever runs the test): why is written over the record in place.
        {"scan", 0},
        {vehicle("ford.json") + "scan",
         0,
         notKept("the folder " + folder + " takes no new file: File exists"),
         std::nullopt,
         {},
         "mkdir -p '" + record.string() + ".'$$'.new/taken'; exec "},
        {"--json clear @1", 1,
         clearNotKept("the folder " + folder + " takes no new file: File exists")},
        // Nothing can be written at all (files limited to nothing, its standard error too): the
        // record is emptied.
        {"scan", 0},
        {vehicle("ford.json") + "scan", 0, "", std::nullopt, {}, "trap '' XFSZ; ulimit -f 0; "},
        {"clear @1", 1, clearNotKept("its record " + record.string() + " was left empty")},
        // The same where no scan was kept before: an empty record is made.
        {vehicle("ford.json") + "scan", 0, "", std::nullopt,
         [record] { std::filesystem::remove_all(record); }, "trap '' XFSZ; ulimit -f 0; "},
        {"clear @1", 1, clearNotKept("its record " + record.string() + " was left empty")},
        {"info", 0},
        {"live 0C", 0},
        {"live 0C FF", 0},  // one value read
        {"live FF", 1},     // only an unknown PID
        {"live 42", 1},     // a value the vehicle does not give
        {vehicle("no-vehicle.json") + "live", 1},
        {vehicle("no-vehicle.json") + "smog", 1, noVehicle},  // no verdict without a vehicle
        {vehicle("no-vehicle.json") + "--json smog", 1, noVehicle},
        {vehicle("no-vehicle.json") + "scan", 1},  // no bus: nothing known of codes
        // A smog check without a verdict says what failed.
        {variant("default.json", "kqx1-refused.json", {{"answers", {{"KQX1", "?"}}}}) +
             "--transport ble smog",
         1,
         "qzdiag: the smog check failed: the sensor refused the set-up command KQX1 (it answered "
         "\"?\")\n"},
        {variant("default.json", "kqtcp-refused.json", {{"answers", {{"KQTCP", "?"}}}}) +
             "--json smog",
         1,
         "qzdiag: the smog check failed: the pending codes were not read: KQTCP was answered "
         "\"?\"\n"},
        // Every cause is said.
        {variant("default.json", "code-lists-refused.json",
                 {{"answers", {{"KQTC", "7F 03 22"}, {"KQTCP", "?"}}}}) +
             "smog",
         1,
         "qzdiag: the smog check failed: the stored codes were not read: KQTC was answered \"7F "
         "03 22\"; the pending codes were not read: KQTCP was answered \"?\"\n"},
        // Nor is live data without the sensor's set-up blamed on the vehicle.
        {variant("default.json", "kqrp-silent.json",
                 {{"answers", {{"KQRP1", nullptr}, {"KQRP0", nullptr}}}}) +
             "--json live",
         1,
         "qzdiag: the supported parameters could not be read: the sensor did not answer the "
         "set-up command KQRP1\n"},
        // A link that drops is said to have dropped, over either transport: not blamed on the
        // vehicle or a set-up.
        {variant("default.json", "drop-0100.json", {{"dropLinkAfter", "0100"}}) + "smog", 1,
         "qzdiag: the smog check failed: the link to the sensor dropped\n"},
        {variant("default.json", "drop-0101.json", {{"dropLinkAfter", "0101"}}) +
             "--transport ble --json smog",
         1, "qzdiag: the smog check failed: the link to the sensor dropped\n"},
        {variant("default.json", "drop-0100.json", {{"dropLinkAfter", "0100"}}) +
             "--transport ble live",
         1, "qzdiag: the supported parameters could not be read: the link to the sensor dropped\n"},
        {variant("default.json", "drop-010c.json", {{"dropLinkAfter", "010C"}}) + "live 0C 0D", 0,
         "",
         "0C  Engine RPM: 1726.0 RPM\n0D  Vehicle Speed: N/A  (the link to the sensor dropped)\n"},
        {variant("default.json", "kqcc-silent.json", {{"answers", {{"KQCC", nullptr}}}}) +
             "clear OBD",
         1, "qzdiag: the clear of OBD failed: the clear command KQCC got no answer\n"},
        {"--vehicle '" + home.path().string() + "/bad-vin.json' --json vin", 1,
         "qzdiag: the VIN could not be read: the vehicle reported 1HGCM82634A004352, which fails "
         "the VIN check: its check digit (9th character) is 3, it should be 1\n"},
        {"--vehicle '" + std::string(QZ_SOURCE_DIR) + "/sim/profiles' vin", 1,
         "qzdiag: vehicle profile: " + std::string(QZ_SOURCE_DIR) +
             "/sim/profiles is a folder; give one of its profiles (a .json file)\n"},
        // A sensor in recovery mode is asked nothing more, over either transport: the
        // recovery state alone.
        {vehicle("recovery.json") + "info", 2},
        {vehicle("recovery.json") + "--json info", 2, recovery},
        {vehicle("recovery.json") + "live", 2, recovery, ""},
        {vehicle("recovery.json") + "clear OBD", 2, recovery, ""},
        {vehicle("recovery.json") + "scan", 2, recovery, ""},
        {vehicle("recovery.json") + "--transport ble vin", 2, recovery, ""},
        {vehicle("recovery.json") + "--transport ble smog", 2, recovery, ""},
        {vehicle("recovery.json") + "--transport ble scan", 2, recovery, ""},
        {vehicle("recovery.json") + "--transport ble wifi --ssid Shop --password secret99", 2,
         recovery, ""},
        {"clear NOPE", 1},
        {"", 64},
        {"scan cel all", 64},
        {"--transport usb info", 64},
        // With --json a usage error is a document too.
        {"--json scan cel all", 64, "qzdiag: scan takes one of cel, com or all\n"},
        {"--json frobnicate", 64, "qzdiag: unknown command frobnicate\n"},
        {"--json live ZZ", 64, "qzdiag: not a PID number: ZZ\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        if (c.before) c.before();
        auto ran = runApart(c.args, c.shell);
        EXPECT_EQ(ran.status, c.status);
        if (!c.said.empty()) {
            EXPECT_EQ(ran.err, c.said);
        }
        if (c.shown) {
            EXPECT_EQ(ran.out, *c.shown);
        }
        if (c.args.find("--json") == std::string::npos) continue;
        // One document, whose error is the failure's sentence.
        auto doc = nlohmann::json::parse(ran.out, nullptr, false);
        ASSERT_TRUE(doc.is_object()) << ran.out;
        // A module named by position is reported by its position.
        if (c.args.find("clear @") != std::string::npos && c.status != 64) {
            EXPECT_TRUE(doc["position"].is_number_unsigned()) << ran.out;
        }
        if (c.status == 0 || c.said.empty()) continue;
        std::string last = c.said.substr(0, c.said.size() - 1);
        last = last.substr(last.rfind('\n') + 1);
        EXPECT_EQ("qzdiag: " + doc.value("error", ""), last);
        if (c.status == 64) {
            EXPECT_EQ(doc["kind"], "usage");
        }
    }
}

TEST_F(QzdiagConventions, LiveJsonCarriesEachParametersError) {
    auto live = run("--json live 0C 42 FF");
    ASSERT_EQ(live.status, 0);
    auto doc = nlohmann::json::parse(live.out, nullptr, false);
    ASSERT_TRUE(doc.is_array()) << live.out;
    std::map<std::string, nlohmann::json> errors;
    for (const auto& p : doc) errors[p["pid"]] = p["error"];
    EXPECT_EQ(errors["0C"], nullptr);
    EXPECT_EQ(errors["42"], "invalidData");
    EXPECT_EQ(errors["FF"], "not in the catalogue");
}

TEST_F(QzdiagConventions, ValuesForPeopleAreRoundedToTheirResolution) {
    const std::string car = vehicle("live-full.json");
    auto text = run(car + "live 04 05 10 14");
    ASSERT_EQ(text.status, 0);
    for (const char* line : {"04  Calculated Engine Load Value: 47.5 %\n",  // 100/255 a step
                             "05  Engine Coolant Temperature: 50 \xC2\xB0"
                             "C\n",                                   // whole degrees
                             "10  Mass Air Flow Rate: 39.427 g/s\n",  // scaled by its PID 50
                             "14  O2 Bank 1 - Sensor 1 - Oxygen Sensor Voltage: 0.480 V\n"})
        EXPECT_NE(text.out.find(line), std::string::npos) << line << text.out;

    // Scripts get every digit.
    auto json = nlohmann::json::parse(run(car + "--json live 04").out);
    ASSERT_EQ(json.size(), 1u);
    EXPECT_DOUBLE_EQ(json[0]["value"].get<double>(), 121.0 * 100.0 / 255.0);
}

TEST_F(QzdiagConventions, ClearMatchesAcronymsInAnyCaseNamesOrPositionsAndNamesThoseFound) {
    auto cleared = nlohmann::json::parse(run("--json clear obd").out);
    EXPECT_EQ(cleared["acronym"], "OBD");
    EXPECT_EQ(cleared["cleared"], true);

    // Two modules of one acronym (a Nissan's ABS on K-line and on CAN): that acronym clears
    // neither and lists both; a module's name (in any case) or position clears it.
    auto both = run(vehicle("nissan.json") + "clear abs", true);
    EXPECT_EQ(both.status, 1);
    EXPECT_EQ(both.out,
              "qzdiag: abs fits 2 modules of the scan, nothing was cleared: @2 Anti-lock Brake "
              "System (ABS), @5 Anti-lock Brake and Vehicle Dynamic Control (ABS); name one by "
              "its position (clear @2)\n");
    // The positions just listed name their modules.
    auto positioned = run(vehicle("nissan.json") + "clear @5");
    EXPECT_EQ(positioned.status, 0);
    EXPECT_EQ(positioned.out, "Cleared ABS (@5 Anti-lock Brake and Vehicle Dynamic Control)\n");
    auto named =
        run(vehicle("nissan.json") + "clear 'anti-lock brake and vehicle dynamic control'");
    EXPECT_EQ(named.status, 0);
    EXPECT_EQ(named.out, "Cleared ABS (@5 Anti-lock Brake and Vehicle Dynamic Control)\n");
    auto beyond = run(vehicle("nissan.json") + "clear @9", true);
    EXPECT_EQ(beyond.status, 1);
    EXPECT_EQ(beyond.out,
              "qzdiag: the last scan shown reported no module @9 (it reported 8 modules, @1 to "
              "@8); nothing was cleared\n");

    auto missing = run(vehicle("bmw.json") + "clear NOPE", true);
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out,
              "A Keyflick is required before this scan.\nqzdiag: the scan reported no module NOPE "
              "(it found BMWVB33DME, BMWVB33DSC, BMWVB33KOMBI, BMWVB33IHKA-80, BMWVB33RDC-70, "
              "OBD); nothing was cleared\n");
}
