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
        // cleared by its position; else the last module with codes before the generic ones.
        auto shared = std::find_if(positions.begin(), positions.end(),
                                   [](const auto& p) { return p.second.size() > 1; });
        int last = 0;
        for (int i = 1; i < static_cast<int>(doc["modules"].size()); ++i)
            if (!doc["modules"][i - 1]["codes"].empty()) last = i;
        if (shared != positions.end()) last = shared->second.back();
        if (!last) continue;
        auto cleared = run(vehicle(profile) + "--json clear @" + std::to_string(last) + " scan");
        EXPECT_EQ(cleared.status, 0) << cleared.out;
        auto after = documents(cleared.out);
        ASSERT_EQ(after.size(), 1u);
        EXPECT_EQ(after[0]["cleared"], true);
        EXPECT_EQ(after[0]["acronym"], doc["modules"][last - 1]["acronym"]);
        EXPECT_EQ(after[0]["position"], last);
        // The scan after it names every module as the first did, the cleared one without codes.
        const auto& modulesAfter = after[0]["scan"]["modules"];
        ASSERT_EQ(modulesAfter.size(), doc["modules"].size());
        for (size_t i = 0; i < modulesAfter.size(); ++i) {
            EXPECT_EQ(modulesAfter[i]["name"], doc["modules"][i]["name"]);
            EXPECT_EQ(modulesAfter[i]["acronym"], doc["modules"][i]["acronym"]);
        }
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
        std::string vehicle;  // a profile, or a profile of the test's home (and options)
        std::string result;
        std::vector<std::string> acronyms;
        std::string said;  // the whole sentence
        int status = 1;
    };
    auto variant = [&](const std::string& profile, const std::string& name,
                       const nlohmann::json& sensor) {
        return qz::testsupport::profileVariant(home.path(), profile, name, sensor);
    };
    const std::string partly = variant("chrysler.json", "chrysler-refusing.json",
                                       {{"bus", 7}, {"answers", {{"KQSP<", "?"}}}});
    const std::string dropping =
        variant("chrysler.json", "dropping.json", {{"dropLinkAfter", "13"}});
    // The link drops as the pending codes' read goes out, unanswered.
    const std::string droppingAtKqtcp =
        variant("default.json", "dropping-at-kqtcp.json",
                {{"dropLinkAfter", "KQTCP"}, {"answers", {{"KQTCP", nullptr}}}});
    const std::string communication = "the scan could not read everything: communication error (";
    // A sample profile as `name`, the module whose name starts with `module` patched.
    auto changed = [&](const std::string& profile, const std::string& name,
                       const std::string& module, const nlohmann::json& patch) {
        auto doc = nlohmann::json::parse(qz::testsupport::text(
            qz::testsupport::readFileBytes(VehicleProfile::sampleFolder() / profile)));
        for (auto& m : doc["modules"])
            if (m["name"].get<std::string>().starts_with(module)) m.merge_patch(patch);
        qz::testsupport::writeText(home.path() / name, doc.dump());
        return "--vehicle '" + (home.path() / name).string() + "' ";
    };
    // The VW airbag answering its code read so, every time.
    auto airbag = [&](const std::string& name, const std::string& answer) {
        return changed("volkswagen.json", name, "15 Airbag", {{"replies", {{"19 02 FF", answer}}}});
    };
    // "<name> (request ID <id>)" of each, joined as a sentence says them.
    auto named = [](const std::vector<std::pair<std::string, std::string>>& modules) {
        std::string out;
        for (size_t i = 0; i < modules.size(); ++i)
            out += (i == 0                    ? ""
                    : i + 1 == modules.size() ? " and "
                                              : ", ") +
                   modules[i].first + " (request ID " + modules[i].second + ")";
        return out;
    };
    // The BMW's K-line units, each with the line it was not read on.
    const std::vector<std::pair<std::string, std::string>> bmwKLine = {
        {"Digital Motor Electronics", "12"},
        {"Electronic Transmission Control", "18"},
        {"Dynamic Stability Control", "29"},
        {"Electric Fuel Pump Control", "17"},
        {"Advanced Crash Safety Module", "01"},
        {"Instrument Cluster", "60"},
        {"Car Access System", "40"},
        {"Footwell Module", "72"},
        {"Junction Box Electronics", "00"},
        {"Steering Column Switch Centre", "02"},
        {"Integrated Automatic Heating and Air Conditioning", "78"},
        {"Park Distance Control", "64"},
        {"Tyre Pressure Control", "20"},
        {"Car Information Computer", "63"},
        {"Transfer Case Control", "0E"}};
    auto onPins = [](std::vector<std::pair<std::string, std::string>> modules,
                     const std::string& line) {
        for (auto& m : modules) m.first += line;
        return modules;
    };
    auto joined = [](std::vector<std::pair<std::string, std::string>> a,
                     const std::vector<std::pair<std::string, std::string>>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::vector<std::pair<std::string, std::string>> hyundaiMut = {
        {"Anti-lock Brake System on the MUT line", "28"},
        {"Airbag Control Unit on the MUT line", "58"},
        {"Electronic Time and Alarm Control System on the MUT line", "40"},
        {"Air Conditioning Control on the MUT line", "98"},
        {"Four Wheel Drive Control on the MUT line", "2A"},
        {"Cruise Control Unit on the MUT line", "24"}};
    const std::string firmwareNotKnown =
        " were not read: they need a sensor firmware, and the sensor's version is not known)";
    // Honda's units read again on DIAG-H.
    const std::vector<std::pair<std::string, std::string>> hondaDiagH = {
        {"Anti-lock Brake System on DIAG-H", "28"},
        {"Supplemental Restraint System on DIAG-H", "53"},
        {"Electric Power Steering on DIAG-H", "30"},
        {"Immobiliser Control Unit on DIAG-H", "D0"},
        {"Gauge Control Module on DIAG-H", "60"},
        {"Multiplex Integrated Control Unit on DIAG-H", "40"},
        {"Climate Control Unit on DIAG-H", "98"}};
    const std::string toyotaKqiSilent =
        variant("toyota.json", "toyota-kqi-silent.json", {{"answers", {{"KQI", nullptr}}}});
    const std::vector<Failure> failures = {
        // Without a vehicle bus (the ignition off) a scan knows nothing of codes.
        {vehicle("no-vehicle.json"),
         "communicaton",
         {},
         communication + "the sensor named no vehicle bus and no code was read: no vehicle "
                         "answered, check that the ignition is on); no module was read"},
        // A set-up the sensor refuses (a Chrysler on 29-bit CAN, its CAN B protocol): the scan
        // fails with the other modules and the generic codes, no CAN B module read on the bus
        // still selected, and names those no bus read.
        {partly,
         "communicaton",
         {"ECM", "OBD"},
         communication + "the sensor refused the set-up command KQSP<; " +
             named({{"Engine Control Module", "18DA10F1"},
                    {"Transmission Control Module", "18DA18F1"},
                    {"Transfer Case Control Module", "18DA1AF1"},
                    {"Electronic Shift Module", "18DA1CF1"},
                    {"Anti-lock Brake Module", "18DA28F1"},
                    {"Electric Park Brake Module", "18DA2BF1"},
                    {"Electric Power Steering Module", "18DA30F1"},
                    {"Body Control Module", "18DA40F1"},
                    {"Power Distribution Center Module", "18DA42F1"},
                    {"Driver Door Module", "18DA48F1"},
                    {"Passenger Door Module", "18DA49F1"},
                    {"Adaptive Headlamp Leveling Module", "18DA4AF1"},
                    {"Occupant Restraint Controller", "18DA58F1"},
                    {"Occupant Classification Module", "18DA59F1"},
                    {"Instrument Panel Cluster", "18DA60F1"},
                    {"Steering Column Control Module", "18DA62F1"},
                    {"Radio Frequency Hub", "18DA64F1"},
                    {"Tire Pressure Monitoring Module", "18DA66F1"},
                    {"HVAC Control Module", "18DA98F1"},
                    {"Memory Seat Module", "18DA9AF1"},
                    {"Security Gateway Module", "18DAA0F1"},
                    {"Adaptive Cruise Control Module", "18DA2CF1"},
                    {"Forward Facing Camera Module", "18DA2DF1"},
                    {"Park Assist Module", "18DA61F1"},
                    {"Blind Spot Monitor Left", "18DA6AF1"},
                    {"Blind Spot Monitor Right", "18DA6BF1"},
                    {"Radio Module", "18DA87F1"},
                    {"Audio Amplifier", "18DA8AF1"},
                    {"Telematics Box Module", "18DA8FF1"},
                    {"Integrated Center Stack", "18DA92F1"},
                    {"Heated Seat Module", "18DA9BF1"},
                    {"Integrated Trailer Brake Module", "18DA2EF1"},
                    {"Air Suspension Control Module", "18DA2FF1"}}) +
             " were not read: the sensor did not accept their set-up); modules read: ECM, OBD"},
        // The K-line protocol refused on the BMW: its K-line modules are named with the pins
        // they were not read on, DME, DSC and KOMBI too (read on CAN, another line).
        {variant("bmw.json", "bmw-kline-refused.json", {{"answers", {{"KQSP5", "?"}}}}),
         "communicaton",
         {"BMWVB33DME", "BMWVB33DSC", "BMWVB33KOMBI", "OBD"},
         communication + "the sensor refused the set-up command KQSP5; " +
             named(onPins(bmwKLine, " on pins 7/0 and 8/0")) +
             " were not read: the sensor did not accept their set-up); modules read: BMWVB33DME, "
             "BMWVB33DSC, BMWVB33KOMBI, OBD"},
        // Not answered is not refused.
        {variant("hyundai.json", "hyundai-kline-silent.json", {{"answers", {{"KQSP5", nullptr}}}}),
         "communicaton",
         {"ECM", "ABS", "SMK", "OBD"},
         communication + "the set-up command KQSP5 got no answer; " +
             named(joined({{"Engine Control Module", "10"},
                           {"Transmission Control Module", "18"},
                           {"Anti-lock Brake System", "28"},
                           {"Airbag Control Unit", "58"},
                           {"Electronic Time and Alarm Control System", "40"},
                           {"Immobiliser", "44"},
                           {"Instrument Cluster", "60"},
                           {"Full Auto Temperature Control", "98"},
                           {"Four Wheel Drive Control", "2A"}},
                          hyundaiMut)) +
             " were not read: the sensor did not accept their set-up); modules read: ECM, ABS, "
             "SMK, "
             "OBD"},
        // What a module did that could not be read, in words.
        {airbag("vw-pending.json", "7F 19 78"),
         "communicaton",
         {"01", "01", "03", "17", "OBD"},
         communication +
             "Airbag (request ID 715) only ever answered \"response pending\"); modules read: 01, "
             "03, 17, OBD"},
        {airbag("vw-busy.json", "7F 19 21"),
         "communicaton",
         {"01", "01", "03", "17", "OBD"},
         communication +
             "Airbag (request ID 715) only ever answered that it was busy); modules read: 01, 03, "
             "17, OBD"},
        {airbag("vw-can-error.json", "59 02 FF 90 01 00 08\rCAN ERROR"),
         "communicaton",
         {"01", "15", "01", "03", "17", "OBD"},
         communication +
             "Airbag (request ID 715) answered, with the sensor's error \"CAN ERROR\" beside the "
             "answer); modules read: 01, 15, 03, 17, OBD"},
        {changed("nissan.json", "nissan-abs-elsewhere.json", "ABS (KWP2000)", {{"response", "29"}}),
         "communicaton",
         {"ECM", "BCM", "AIRBAG", "ABS", "BCM", "AIRBAG", "OBD"},
         communication +
             "Anti-lock Brake System (request ID 28) was answered only from another address); "
             "modules read: ECM, BCM, AIRBAG, ABS, OBD"},
        // Refused on both K-line buses, the pins are said once; Tyre Pressure Control, read on
        // pins 7/0, is not read on 8/0 either.
        {variant("bmw.json", "pins-refused.json", {{"answers", {{"KQSM80", "?"}}}}),
         "communicaton",
         {"BMWVB33DME", "BMWVB33DSC", "BMWVB33KOMBI", "BMWVB33RDC-70", "OBD"},
         communication + "the sensor refused the set-up command KQSM80; " +
             named(onPins(bmwKLine, " on pins 8/0")) +
             " were not read: the sensor did not accept their set-up); modules read: BMWVB33DME, "
             "BMWVB33DSC, BMWVB33KOMBI, BMWVB33RDC-70, OBD"},
        // A command as a user reads it: the control byte before the BMW's KQCD1 by its name, one
        // that ends in ";" in quotes.
        {variant("bmw.json", "kqcd1-refused.json", {{"answers", {{"KQCD1", "?"}}}}),
         "errorLoading",
         {},
         "the scan could not be loaded for this vehicle's make (the sensor refused the set-up "
         "command <DLE>KQCD1); no module was read"},
        {variant("honda.json", "diag-h-refused.json", {{"answers", {{"KQSP;", "?"}}}}),
         "communicaton",
         {"PGMFI", "AT", "ABS", "SRS", "OBD"},
         communication + "the sensor refused the set-up command \"KQSP;\"; " + named(hondaDiagH) +
             " were not read: the sensor did not accept their set-up); modules read: PGMFI, AT, "
             "ABS, SRS, OBD"},
        // A K-line unit's header not answered on the pins it is not on: that unit, read on its
        // own pins by the other method, is named on the line it was not read on.
        {variant("bmw.json", "bmw-header-silent.json", {{"answers", {{"KQSH8178F1", nullptr}}}}),
         "communicaton",
         {"BMWVB33DME", "BMWVB33DSC", "BMWVB33KOMBI", "BMWVB33IHKA-80", "BMWVB33RDC-70", "OBD"},
         communication + "the set-up command KQSH8178F1 got no answer; " +
             named({{"Integrated Automatic Heating and Air Conditioning on pins 7/0", "78"}}) +
             " was not read: the sensor did not accept its set-up); modules read: BMWVB33DME, "
             "BMWVB33DSC, BMWVB33KOMBI, BMWVB33IHKA-80, BMWVB33RDC-70, OBD"},
        // The MUT line's header refused: every MUT unit is named, the ABS and ETACS at the ids of
        // K-line units read too.
        {variant("hyundai.json", "hyundai-mut-refused.json", {{"answers", {{"KQSH8040F1", "?"}}}}),
         "communicaton",
         {"ECM", "ABS", "SMK", "ECM-80", "ABS-D0", "ETACS-70", "OBD"},
         communication + "the sensor refused the set-up command KQSH8040F1; " + named(hyundaiMut) +
             " were not read: the sensor did not accept their set-up); modules read: ECM, ABS, "
             "SMK, ECM-80, ABS-D0, ETACS-70, OBD"},
        // The version never answered on a home that has seen no sensor: not known, the units
        // that need a firmware are named, the scan is not complete.
        {"--home '" + (home.path() / "fresh").string() + "' " + toyotaKqiSilent,
         "communicaton",
         {"ECM", "EPS", "ABS", "OBD"},
         communication +
             named({{"Main Body", "40"},
                    {"Driver Door Motor", "90"},
                    {"Passenger Door Motor", "91"},
                    {"Tire Pressure Monitor", "58"},
                    {"Occupant Detection", "5F"},
                    {"Smart Key Certification", "B5"},
                    {"Headlamp Swivel and Leveling", "70"},
                    {"Navigation and Multi-display", "60"}}) +
             firmwareNotKnown + "; modules read: ECM, EPS, ABS, OBD"},
        // The same on the home of this table, which has the version this sensor told before.
        {toyotaKqiSilent, "complete", {"ECM", "EPS", "ABS", "BODY", "TPMS", "OBD"}, "", 0},
        // Not known, a second pass that needs a firmware names its modules (Honda's DIAG-H), as
        // a list does (GM's LAN).
        {"--home '" + (home.path() / "fresh").string() + "' " +
             variant("honda.json", "honda-kqi-silent.json", {{"answers", {{"KQI", nullptr}}}}),
         "communicaton",
         {"PGMFI", "AT", "ABS", "SRS", "OBD"},
         communication + named(hondaDiagH) + firmwareNotKnown +
             "; modules read: PGMFI, AT, ABS, SRS, OBD"},
        {"--home '" + (home.path() / "fresh").string() + "' " +
             variant("gm.json", "gm-kqi-silent.json", {{"answers", {{"KQI", nullptr}}}}),
         "communicaton",
         {"ECM", "PSCM", "EBCM", "PCM", "EBCM", "OBD"},
         communication +
             named({{"Body Control Module", "241"},
                    {"Radio", "244"},
                    {"Vehicle Communication Interface Module", "24A"},
                    {"Instrument Panel Cluster", "24C"},
                    {"HVAC Control Module", "251"},
                    {"Driver Door Module", "252"},
                    {"Passenger Door Module", "253"},
                    {"Parking Assist Module", "254"},
                    {"Memory Seat Module", "256"},
                    {"Audio Amplifier", "257"},
                    {"Liftgate Module", "258"},
                    {"Theft Deterrent Module", "259"},
                    {"Rear Seat Entertainment Module", "25A"},
                    {"Sunroof Control Module", "25B"},
                    {"Tire Pressure Monitor Module", "255"},
                    {"Driver Door Module", "A0"},
                    {"Passenger Door Module", "A1"},
                    {"Memory Seat Module", "A6"}}) +
             firmwareNotKnown + "; modules read: ECM, PSCM, EBCM, PCM, OBD"},
        // A put-back refused (headers hidden again after a read): nothing was missed.
        {variant("mercedes.json", "mercedes-h0-refused.json", {{"answers", {{"KQH0", "?"}}}}),
         "complete",
         {"ESP9", "IC204", "$7E0", "OBD"},
         "",
         0},
        // Not back on its bus, the sensor would give another bus's generic codes.
        {variant("ford.json", "restore-refused.json", {{"answers", {{"KQCM7F8", "?"}}}}),
         "communicaton",
         {"PCM", "TCM", "GWM", "DDM", "ABS", "GWM*MSCAN", "IPC*MSCAN", "PCM", "ABS"},
         communication + "the sensor refused the restore command KQCM7F8, so the generic codes "
                         "were not read); modules read: PCM, TCM, GWM, DDM, ABS, GWM*MSCAN, "
                         "IPC*MSCAN"},
        // Not answered is not refused.
        {variant("ford.json", "restore-silent.json", {{"answers", {{"KQCM7F8", nullptr}}}}),
         "communicaton",
         {"PCM", "TCM", "GWM", "DDM", "ABS", "GWM*MSCAN", "IPC*MSCAN", "PCM", "ABS"},
         communication + "the restore command KQCM7F8 got no answer, so the generic codes were "
                         "not read); modules read: PCM, TCM, GWM, DDM, ABS, GWM*MSCAN, "
                         "IPC*MSCAN"},
        // A set-up the scan makes before it reads anything: no module, no generic code.
        {variant("toyota.json", "kqrp1-refused.json", {{"answers", {{"KQRP1", "?"}}}}),
         "errorLoading",
         {},
         "the scan could not be loaded for this vehicle's make (the sensor refused the set-up "
         "command KQRP1); no module was read"},
        // The generic read of pending codes answered "?", or not at all: the stored ones are
        // kept.
        {variant("default.json", "generic-refused.json", {{"answers", {{"KQTCP", "?"}}}}),
         "communicaton",
         {"OBD"},
         communication + "the generic code read KQTCP was answered \"?\"); modules read: OBD"},
        {variant("default.json", "generic-silent.json", {{"answers", {{"KQTCP", nullptr}}}}),
         "communicaton",
         {"OBD"},
         communication + "the generic code read KQTCP got no answer); modules read: OBD"},
        // The link drops in the middle of the scan (at its first J1850 request), over either
        // transport: the scan stops there.
        {dropping,
         "communicaton",
         {"PCM", "BCM", "TIPM"},
         communication + "the link to the sensor dropped); modules read: PCM, BCM, TIPM"},
        {dropping + "--transport ble ",
         "communicaton",
         {"PCM", "BCM", "TIPM"},
         communication + "the link to the sensor dropped); modules read: PCM, BCM, TIPM"},
        // The link drops while the pending codes' read is out, over either transport: that
        // read is not a failure of its own.
        {droppingAtKqtcp,
         "communicaton",
         {"OBD"},
         communication + "the link to the sensor dropped); modules read: OBD"},
        {droppingAtKqtcp + "--transport ble ",
         "communicaton",
         {"OBD"},
         communication + "the link to the sensor dropped); modules read: OBD"},
        // The link drops just before the scan (at the VIN read), over either transport: no
        // scan to load, the sensor is gone.
        {variant("default.json", "dropping-at-vin.json", {{"dropLinkAfter", "0902"}}),
         "disconnected",
         {},
         "the scan could not go on: the sensor is not connected (the link to the sensor "
         "dropped); no module was read"},
        {variant("default.json", "dropping-at-vin.json", {{"dropLinkAfter", "0902"}}) +
             "--transport ble ",
         "disconnected",
         {},
         "the scan could not go on: the sensor is not connected (the link to the sensor "
         "dropped); no module was read"},
        // The library drops a link whose sensor leaves a set-up unanswered five times: nothing
        // more is sent, and nothing is refused.
        {variant("bmw.json", "bmw-kline-silent.json", {{"answers", {{"KQSP5", nullptr}}}}) +
             "--transport ble ",
         "communicaton",
         {"BMWVB33DME", "BMWVB33DSC", "BMWVB33KOMBI"},
         communication +
             "the link to the sensor dropped; the set-up command KQSP5 got no "
             "answer; " +
             named({{"Digital Motor Electronics on pins 7/0", "12"},
                    {"Electronic Transmission Control on pins 7/0", "18"},
                    {"Dynamic Stability Control on pins 7/0", "29"},
                    {"Electric Fuel Pump Control on pins 7/0", "17"},
                    {"Advanced Crash Safety Module on pins 7/0", "01"}}) +
             " were not read: the sensor did not accept their set-up); modules read: BMWVB33DME, "
             "BMWVB33DSC, BMWVB33KOMBI"},
        // A sensor in firmware recovery is asked nothing more: it cannot be scanned.
        {vehicle("recovery.json"),
         "notInitialized",
         {},
         "the sensor is in firmware recovery mode: update its firmware first",
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
        EXPECT_EQ(docs[0].value("error", ""), f.said);
    }
    // A module of a scan that read only part of the vehicle clears as any other.
    auto partlyCleared = run(partly + "clear ECM");
    EXPECT_EQ(partlyCleared.status, 0) << partlyCleared.out;
    EXPECT_EQ(partlyCleared.out, "Cleared ECM\n");
}
