// What a scan reports beyond its modules, through the gateway and the simulated vehicle: the
// result does not wait on the backend, the analytics events carry every module's codes and the
// sensor's version as the sensor wrote it, and a settings folder that refuses writes loses none
// of the sensor facts a scan depends on.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ScanTestSupport.hpp"
#include "api/DB/MyPersistentContainer.hpp"
#include "api/Data/PelkData.hpp"
#include "platform/FileSystem.hpp"
#include "sim/SimTestSupport.hpp"

using namespace qz;
using namespace qz::scantest;
using qz::sim::VehicleProfile;

namespace {

namespace fs = std::filesystem;

const char* kVin = "1HGCM82633A004352";

VehicleProfile carWithVersion(const std::string& version) {
    return VehicleProfile::fromText(R"({"sensor": {"version": ")" + version + R"(", "bus": 6},
        "vin": "1HGCM82633A004352",
        "ecus": [{"address": "7E8", "mode1": {"0D": "00"}, "stored": ["P0420"]}]})");
}

VehicleProfile sampleProfile(const std::string& name) {
    return VehicleProfile::load(VehicleProfile::sampleFolder() / name);
}

const Event* eventOfType(const std::vector<Event>& events, const std::string& type) {
    for (const auto& e : events)
        if (e.type == type) return &e;
    return nullptr;
}

Texts acronyms(const PelkModules& modules) {
    Texts out;
    for (const auto& m : modules) out.push_back(m->acronym());
    return out;
}

bool contains(const Texts& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

class ScanReporting : public ScanTest {};

}  // namespace

TEST_F(ScanReporting, TheResultDoesNotWaitForABackendThatNeverAnswers) {
    // The result's wait for the backend lasts its second; the sensor's answers are waited for
    // in full, so a loaded machine cannot turn one into a time-out.
    ASSERT_NO_FATAL_FAILURE(connectTo(carWithVersion("4.08")));
    holdBackend("logScanFinished");
    ScanRecorder recorder;
    gateway->performScan(kVin, PelkScanType::cel, recorder.listener());
    // Well inside the 30 s the post itself may take.
    auto end = recorder.waitForEnd(15);
    ASSERT_TRUE(end) << "the result waited for the backend";
    EXPECT_EQ(moduleLines(modulesOf(end)), Texts{"OBD: P0420/CONFIRMED"});
    EXPECT_NE(gwtest::libraryLogText().find("Analytics not answered yet, handing over the scan "
                                            "result"),
              std::string::npos);
    gwtest::drainQueues();
    EXPECT_FALSE(gateway->isBusy());
    EXPECT_NE(gwtest::libraryLogText().find("Scan controller deinit"), std::string::npos)
        << "the controller goes with the result";

    // The event did go out, and the backend's late refusal puts it in the cache.
    const auto events = waitForEvents(2);
    ASSERT_TRUE(eventOfType(events, "logScanFinished"));
    answerBackend(500);
    const auto container = gateway->persistentContainer();
    ASSERT_TRUE(container);
    EXPECT_TRUE(simtest::eventually([&] { return container->eventCount().value_or(0) == 1; }, 30))
        << "the event is kept for a later re-send";
    EXPECT_EQ(recorder.kinds(), (Texts{"update", "complete"})) << "the result came once";
}

TEST_F(ScanReporting, TheSensorVersionIsReportedWithTheSensorsOwnDigits) {
    ASSERT_NO_FATAL_FAILURE(connectTo(carWithVersion("4.08")));
    // A version in another form than the sensor's (a number with its two decimals) is not read:
    // 0, never the one told before.
    const struct {
        const char* version;
        const char* written;
    } cases[] = {{"4.08", "4.08"},  {"4.05", "4.05"}, {"3.9", "0.0"}, {"12.34", "12.34"},
                 {"12.345", "0.0"}, {"4.10", "4.1"},  {"4", "0.0"}};
    size_t seen = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        core->setProfile(carWithVersion(c.version));
        ASSERT_NO_FATAL_FAILURE(reconnectListed());
        ASSERT_TRUE(scan(PelkScanType::cel, kVin));
        seen += 2;
        const auto events = waitForEvents(seen);
        ASSERT_EQ(events.size(), seen);
        for (const auto* e : {&events[seen - 2], &events[seen - 1]})
            EXPECT_NE(e->text.find(std::string("\"sensorVersion\":") + c.written + ","),
                      std::string::npos)
                << e->text;
    }
}

TEST_F(ScanReporting, ModulesOfOneAcronymAllReportTheirCodes) {
    ASSERT_NO_FATAL_FAILURE(connectTo(sampleProfile("gm.json")));
    auto end = scan(PelkScanType::all, sampleProfile("gm.json").vin);
    ASSERT_TRUE(end && end->result() && *end->result());
    // Two brake and two body modules: each acronym lists the codes of both, in scan order.
    const auto events = waitForEvents(2);
    const Event* finished = eventOfType(events, "logScanFinished");
    ASSERT_TRUE(finished);
    const auto& enhanced = finished->body["enhancedCodes"];
    EXPECT_EQ(enhanced["EBCM"], nlohmann::json({"C0035", "C0040"}));
    EXPECT_EQ(enhanced["BCM"], nlohmann::json({"B1000"}));
    EXPECT_EQ(enhanced["PCM"], nlohmann::json({"P0171", "P1380"}));
    EXPECT_TRUE(enhanced.is_object()) << "the event keeps its shape";
}

TEST_F(ScanReporting, ASettingsFolderThatRefusesWritesLosesNoSensorFacts) {
    // The settings folder is a file: nothing can be written under it (not even by root).
    const fs::path folder = Paths::preferencesDirectory();
    fs::create_directories(folder.parent_path());
    std::ofstream(folder) << "in the way";

    // Toyota reads the units behind its body gateway only on firmware 4.03 and later.
    ASSERT_NO_FATAL_FAILURE(connectTo(sampleProfile("toyota.json")));
    EXPECT_NE(gwtest::libraryLogText().find(" not written, the values stay in memory"),
              std::string::npos);
    EXPECT_FLOAT_EQ(gateway->sensorVersion(), 4.08f);
    EXPECT_EQ(PelkData::shared()->sensorVersionNumber(), 408);
    ScanRecorder recorder;
    recorder.onInteraction([](const InteractionType& t) { t.listener()(); });
    auto end = scan(PelkScanType::all, sampleProfile("toyota.json").vin, recorder);
    ASSERT_TRUE(end && end->result() && *end->result());
    const Texts found = acronyms(modulesOf(end));
    EXPECT_TRUE(contains(found, "BODY")) << describe(modulesOf(end));
    EXPECT_TRUE(contains(found, "TPMS")) << describe(modulesOf(end));

    // The disk takes writes again: the next change writes every value, the earlier ones too.
    fs::remove(folder);
    PelkData::shared()->setInRecoveryMode(false);
    std::ifstream in(folder / (std::string(PelkData::kSuiteName) + ".json"));
    ASSERT_TRUE(in);
    const auto onDisk = nlohmann::json::parse(in, nullptr, false);
    EXPECT_EQ(onDisk["activeSensorVersion"], 408);
    EXPECT_EQ(onDisk["obd2Protocol"], 6);
    EXPECT_EQ(onDisk["vehicleParentMan"], "Toyota");
}
