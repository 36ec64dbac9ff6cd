// qzdiag's scan and clear as a user runs them: a separate process, the simulated vehicle, its
// waits and pauses ten times faster, and a backend that is not there.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "api/Scan/PelkScanType.hpp"
#include "sim/VehicleProfile.hpp"
#include "support/QzdiagRun.hpp"

using qz::sim::VehicleProfile;

namespace {

class QzdiagScan : public qz::testsupport::QzdiagFixture {
  protected:
    qz::testsupport::QzdiagRun run(const std::string& args) const {
        qz::testsupport::QzdiagRun run;
        int rc = -1;
        run.out = qz::testsupport::runCommand(
            "env QZ_TIME_SCALE=0.1 QZ_BACKEND_HOST=http://127.0.0.1:9 " +
                std::string(QZ_BINARY_DIR) + "/qzdiag " + homeArg() + " " + args + " 2>/dev/null",
            &rc);
        run.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
        return run;
    }
    static std::string vehicle(const std::string& profile) {
        return "--vehicle '" + (VehicleProfile::sampleFolder() / profile).string() + "' ";
    }
    // The JSON documents printed one after the other.
    static std::vector<nlohmann::json> documents(const std::string& out) {
        std::vector<nlohmann::json> docs;
        std::istringstream in(out);
        while (in >> std::ws && in.peek() != EOF) {
            nlohmann::json doc;
            try {
                in >> doc;
            } catch (const nlohmann::json::exception&) {
                ADD_FAILURE() << "not JSON: " << out;
                break;
            }
            docs.push_back(doc);
        }
        return docs;
    }
};

}  // namespace

TEST_F(QzdiagScan, EveryMakesVehiclePassesItsVinCheckScansToOneJsonObjectAndClearsEachModule) {
    std::vector<std::string> profiles = {"default.json"};
    for (const auto& entry : std::filesystem::directory_iterator(VehicleProfile::sampleFolder()))
        if (!VehicleProfile::load(entry.path()).modules.empty())
            profiles.push_back(entry.path().filename().string());
    for (const auto& profile : profiles) {
        SCOPED_TRACE(profile);
        const std::string vin = VehicleProfile::load(VehicleProfile::sampleFolder() / profile).vin;
        auto read = run(vehicle(profile) + "--json vin");
        EXPECT_EQ(read.status, 0) << read.out;
        auto vinDocs = documents(read.out);
        ASSERT_EQ(vinDocs.size(), 1u);
        EXPECT_EQ(vinDocs[0]["vin"], vin);

        auto scan = run(vehicle(profile) + "--json scan");
        ASSERT_EQ(scan.status, 0) << scan.out;
        auto docs = documents(scan.out);
        ASSERT_EQ(docs.size(), 1u);
        const auto& doc = docs[0];
        EXPECT_EQ(doc["scanType"], "all");
        EXPECT_EQ(doc["vin"], vin);
        EXPECT_NE(doc["make"], "Unknown");
        EXPECT_EQ(doc["result"], "complete");
        EXPECT_FALSE(doc.contains("error"));
        ASSERT_FALSE(doc["modules"].empty());
        EXPECT_EQ(doc["modules"].back()["acronym"], "OBD");
        std::map<std::string, std::vector<int>> positions;  // by acronym
        for (const auto& m : doc["modules"]) {
            EXPECT_TRUE(m["name"].is_string() && m["acronym"].is_string());
            EXPECT_TRUE(qz::pelkLightCategory(m["light"].get<std::string>())) << m["light"];
            EXPECT_TRUE(qz::pelkModuleCategory(m["category"].get<std::string>())) << m["category"];
            for (const auto& c : m["codes"])
                EXPECT_TRUE(c["code"].is_string() && c["status"].is_string() &&
                            c["description"].is_string());
            positions[m["acronym"].get<std::string>()].push_back(m["position"].get<int>());
        }
        EXPECT_EQ(doc["modules"][0]["position"], 1);

        // Modules that share an acronym: the last of them, which its acronym never reached,
        // cleared by its position.
        auto shared = std::find_if(positions.begin(), positions.end(),
                                   [](const auto& p) { return p.second.size() > 1; });
        if (shared == positions.end()) continue;
        const int last = shared->second.back();
        auto cleared = run(vehicle(profile) + "--json clear @" + std::to_string(last) + " scan");
        EXPECT_EQ(cleared.status, 0) << cleared.out;
        auto after = documents(cleared.out);
        ASSERT_EQ(after.size(), 1u);
        EXPECT_EQ(after[0]["cleared"], true);
        EXPECT_EQ(after[0]["acronym"], shared->first);
        EXPECT_EQ(after[0]["position"], last);
        const auto& modulesAfter = after[0]["scan"]["modules"];
        ASSERT_EQ(modulesAfter.size(), doc["modules"].size());
        EXPECT_EQ(modulesAfter[last - 1]["name"], doc["modules"][last - 1]["name"]);
        EXPECT_TRUE(modulesAfter[last - 1]["codes"].empty()) << modulesAfter[last - 1];
    }
}

TEST_F(QzdiagScan, TheScanTypeAndTheReadableTable) {
    auto cel = run("scan cel");
    ASSERT_EQ(cel.status, 0) << cel.out;
    EXPECT_NE(cel.out.find("Scan cel of 1HGCM82633A004352 (Honda): complete, 1 module"),
              std::string::npos)
        << cel.out;
    EXPECT_NE(cel.out.find("\n@1 Emissions (OBD)  light: ENGINE, category: ENGINE"),
              std::string::npos)
        << "numbered by its position";
    EXPECT_NE(
        cel.out.find("  P0420  CONFIRMED  Catalyst system efficiency below threshold, bank 1"),
        std::string::npos);

    auto quick = documents(run("--json scan com").out);
    ASSERT_EQ(quick.size(), 1u);
    EXPECT_EQ(quick[0]["scanType"], "com");
    EXPECT_EQ(run("scan cdl").status, 64) << "the raw values only";
    EXPECT_EQ(run("scan cel all").status, 64);
}

TEST_F(QzdiagScan, AClearThenAScanInTheSameRunShowsTheModuleWithoutItsCodes) {
    // The first manufacturer module with codes of a vehicle that has them.
    const std::string car = vehicle("bmw.json");
    auto first = documents(run(car + "--json scan").out);
    ASSERT_EQ(first.size(), 1u);
    std::string acronym;
    for (const auto& m : first[0]["modules"])
        if (acronym.empty() && m["acronym"] != "OBD" && !m["codes"].empty()) acronym = m["acronym"];
    ASSERT_FALSE(acronym.empty());

    auto cleared = run(car + "--json clear " + acronym + " scan");
    ASSERT_EQ(cleared.status, 0) << cleared.out;
    auto docs = documents(cleared.out);
    ASSERT_EQ(docs.size(), 1u) << "the clear and the scan after it in one document";
    EXPECT_EQ(docs[0]["acronym"], acronym);
    EXPECT_EQ(docs[0]["cleared"], true);
    EXPECT_FALSE(docs[0].contains("error"));
    EXPECT_EQ(docs[0]["scan"]["result"], "complete");
    bool seen = false;
    for (const auto& m : docs[0]["scan"]["modules"])
        if (m["acronym"] == acronym) {
            seen = true;
            EXPECT_TRUE(m["codes"].empty()) << m;
        }
    EXPECT_TRUE(seen);

    // The generic codes, in the readable form.
    auto generic = run("clear OBD scan cel");
    ASSERT_EQ(generic.status, 0) << generic.out;
    EXPECT_NE(generic.out.find("Cleared OBD"), std::string::npos) << generic.out;
    EXPECT_NE(generic.out.find("Emissions (OBD)  light: ENGINE, category: ENGINE\n  no codes"),
              std::string::npos);
}

TEST_F(QzdiagScan, FailuresExitNonZero) {
    auto unknown = run("--json clear NOPE");
    EXPECT_EQ(unknown.status, 1);
    auto docs = documents(unknown.out);
    ASSERT_EQ(docs.size(), 1u);
    EXPECT_EQ(docs[0]["acronym"], "NOPE");
    EXPECT_EQ(docs[0]["cleared"], false);
    EXPECT_EQ(docs[0]["found"], nlohmann::json::array({"OBD"})) << "what the scan found instead";
    EXPECT_EQ(run("clear").status, 64);
    EXPECT_EQ(run("clear OBD again").status, 64);

    // A failed scan says why in words, with the modules it read; "result" keeps the case name.
    struct Failure {
        std::string vehicle;  // a profile, or a profile of the test's home
        std::string result;
        std::vector<std::string> acronyms;
        std::vector<std::string> said;
        int status = 1;
    };
    auto chrysler = nlohmann::json::parse(qz::testsupport::text(
        qz::testsupport::readFileBytes(VehicleProfile::sampleFolder() / "chrysler.json")));
    chrysler["sensor"]["bus"] = 7;
    chrysler["sensor"]["answers"] = {{"KQSP<", "?"}};
    qz::testsupport::writeText(home.path() / "chrysler-refusing.json", chrysler.dump());
    auto generic = nlohmann::json::parse(qz::testsupport::text(
        qz::testsupport::readFileBytes(VehicleProfile::sampleFolder() / "default.json")));
    generic["sensor"]["answers"] = {{"KQTCP", "?"}};
    qz::testsupport::writeText(home.path() / "generic-refused.json", generic.dump());
    const std::string own = "--vehicle '" + home.path().string() + "/";
    const std::vector<Failure> failures = {
        // Without a vehicle bus (the ignition off) a scan knows nothing of codes.
        {vehicle("no-vehicle.json"),
         "communicaton",
         {},
         {"the scan could not read everything: communication error (the sensor named no vehicle "
          "bus and no code was read",
          "; no module was read"}},
        // A set-up the sensor refuses (a Chrysler on 29-bit CAN, its CAN B protocol): the scan
        // fails with the other modules and the generic codes, no CAN B module read on the bus
        // still selected.
        {own + "chrysler-refusing.json' ",
         "communicaton",
         {"ECM", "OBD"},
         {"the scan could not read everything: communication error (",
          "the sensor refused the set-up command KQSP<", "; modules read: ECM"}},
        // The generic read of pending codes answered "?": the stored ones are kept.
        {own + "generic-refused.json' ",
         "communicaton",
         {"OBD"},
         {"(the generic code read KQTCP was answered \"?\"); modules read: OBD"}},
        // A sensor in firmware recovery is asked nothing more: it cannot be scanned.
        {vehicle("recovery.json"),
         "notInitialized",
         {},
         {"the sensor is in firmware recovery mode: update its firmware first"},
         2},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(f.vehicle);
        auto failed = run(f.vehicle + "--json scan");
        EXPECT_EQ(failed.status, f.status);
        docs = documents(failed.out);
        ASSERT_EQ(docs.size(), 1u);
        EXPECT_EQ(docs[0]["result"], f.result);
        std::vector<std::string> acronyms;
        for (const auto& m : docs[0]["modules"]) acronyms.push_back(m["acronym"]);
        EXPECT_EQ(acronyms, f.acronyms);
        const std::string error = docs[0].value("error", "");
        for (const auto& words : f.said) EXPECT_NE(error.find(words), std::string::npos) << error;
    }
    // A module of a scan that read only part of the vehicle clears as any other.
    auto partly = run(own + "chrysler-refusing.json' clear ECM");
    EXPECT_EQ(partly.status, 0) << partly.out;
    EXPECT_NE(partly.out.find("Cleared ECM"), std::string::npos) << partly.out;
}
