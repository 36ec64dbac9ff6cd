// Every simulated vehicle of sim/profiles that has manufacturer modules, scanned in full through
// the gateway: the same modules and codes as the engine alone reports, analytics of them, and
// a clear of one module that the next scan shows without its codes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>

#include "ScanTestSupport.hpp"
#include "api/Data/EnhancedProtocolManufacturerNames.hpp"
#include "api/Data/PelkData.hpp"

using namespace qz;
using namespace qz::scantest;
using qz::sim::VehicleProfile;

namespace {

// The lines of the records the engine reported that answered, codes shown as the gateway
// shows them.
Texts engineLines(const std::vector<QZEModuleDataPtr>& records) {
    const bool nissan = enhancedProtocolManufacturerFrom(PelkData::shared()->vehicleParentMan()) ==
                        EnhancedProtocolManufacturer::Nissan;
    Texts out;
    for (const auto& r : records) {
        // Negative answers alone are no answer.
        if (!r->description() || !r->accronym() || !r->codeList() ||
            countedResponseState(r->responseState(), !r->codeList()->empty()) < 3)
            continue;
        std::string line = *r->accronym() + ":";
        const auto& codes = *r->codeList();
        const auto statuses = r->statusList().value_or(Texts{});
        for (size_t i = 0; i < codes.size(); ++i) {
            const std::string code = nissan ? codes[i].substr(0, codes[i].find("-N")) : codes[i];
            const std::string status = statuses.size() == codes.size() ? statuses[i] : "";
            line += " " + code + (status.empty() ? "" : "/" + status);
        }
        out.push_back(line);
    }
    return out;
}

Texts withCodes(const Texts& lines) {
    Texts out;
    for (const auto& l : lines)
        if (l.back() != ':') out.push_back(l);
    return out;
}

class MakeProfile : public ScanTest, public ::testing::WithParamInterface<std::string> {
  protected:
    // A full scan through the gateway, every prompt answered.
    std::optional<PelkScanProgress> fullScan(const std::string& vin, ScanRecorder& recorder) {
        recorder.onInteraction([](const InteractionType& t) { t.listener()(); });
        return scan(PelkScanType::all, vin, recorder);
    }
    // The same scan by the engine alone, on the gateway's queue; the records it reported.
    std::vector<QZEModuleDataPtr> engineScan() {
        auto collector = std::make_shared<modtest::ScanCollector>();
        auto scanner = std::make_shared<QZEnhancedScanner>();
        collector->scanner = scanner;
        scanner->setDelegate(collector);
        Gateway::gatewayQueue()->sync([&] {
            EXPECT_GT(scanner->loadScan(QZEnhancedScanner::kFullScan), 0);
            scanner->startScan(QZEnhancedScanner::kFullScan);
            scanner->startBasicObdScan(true);
        });
        gwtest::drainQueues();
        return collector->modules();
    }
};

}  // namespace

TEST_P(MakeProfile, AFullScanMatchesTheEngineIsReportedAndAClearClears) {
    const auto profile = VehicleProfile::load(VehicleProfile::sampleFolder() / GetParam());
    ASSERT_NO_FATAL_FAILURE(connectTo(profile));
    ScanRecorder recorder;
    auto end = fullScan(profile.vin, recorder);
    ASSERT_TRUE(end);
    ASSERT_TRUE(end->result());
    ASSERT_TRUE(*end->result()) << describe(end->result()->error());
    const PelkModules modules = modulesOf(end);
    const Texts lines = moduleLines(modules);

    const auto records = engineScan();
    EXPECT_EQ(lines, engineLines(records));
    const auto updates = recorder.updates();
    EXPECT_EQ(updates.size(), records.size()) << "one update a module read";
    EXPECT_TRUE(std::is_sorted(updates.begin(), updates.end()));
    for (const auto& m : modules)
        for (const auto& c : m->results())
            EXPECT_FALSE(c->codeDescription().empty()) << m->acronym() << " " << c->code();

    // The finished event: the generic codes by status, the others by acronym (modules of one
    // acronym one after the other).
    std::map<std::string, Texts> enhanced;
    Texts generic;
    for (const auto& m : modules) {
        Texts codes;
        for (const auto& c : m->results()) codes.push_back(c->code());
        if (m->acronym() == "OBD") {
            generic = codes;
        } else {
            auto& list = enhanced[m->acronym()];
            list.insert(list.end(), codes.begin(), codes.end());
        }
    }
    // The two events may reach the backend in either order.
    auto events = waitForEvents(2);
    ASSERT_EQ(events.size(), 2u);
    auto found = std::find_if(events.begin(), events.end(),
                              [](const Event& e) { return e.type == "logScanFinished"; });
    ASSERT_NE(found, events.end());
    const auto& finished = found->body;
    EXPECT_EQ(finished["enhancedCodes"], nlohmann::json(enhanced));
    Texts reported;
    for (const char* key : {"confirmedCodes", "pendingCodes", "permanantCodes"})
        for (const auto& c : finished[key]) reported.push_back(c);
    std::sort(reported.begin(), reported.end());
    std::sort(generic.begin(), generic.end());
    EXPECT_EQ(reported, generic);

    // Clear the first manufacturer module with codes (the generic codes when there is none).
    auto target = std::find_if(modules.begin(), modules.end(), [](const auto& m) {
        return m->acronym() != "OBD" && !m->results().empty();
    });
    if (target == modules.end())
        target = std::find_if(modules.begin(), modules.end(),
                              [](const auto& m) { return !m->results().empty(); });
    if (target == modules.end()) GTEST_SKIP() << "no module holds codes";
    EXPECT_EQ(clear(*target), PelkClearResult::complete(true)) << (*target)->acronym();
    EXPECT_FALSE(gateway->isBusy());

    Texts expected = withCodes(lines);
    expected.erase(std::find(expected.begin(), expected.end(),
                             lines[static_cast<size_t>(target - modules.begin())]));
    ScanRecorder again;
    EXPECT_EQ(withCodes(moduleLines(modulesOf(fullScan(profile.vin, again)))), expected);
}

// A version not read whole at this connection is not stored, and is not the sensor's version;
// the one that sensor told before may choose what a scan tries, never what it leaves out unsaid:
// a scan that misses a module the version read gave is not complete and names it as not read.
TEST_P(MakeProfile, AVersionNotReadWholeLeavesNoModuleOutUnsaid) {
    auto profile = VehicleProfile::load(VehicleProfile::sampleFolder() / GetParam());
    ASSERT_NO_FATAL_FAILURE(connectTo(profile));
    ScanRecorder first;
    auto read = fullScan(profile.vin, first);
    ASSERT_TRUE(read && read->result() && *read->result());
    const PelkModules modules = modulesOf(read);
    const auto sensor = gateway->connectedDevices().front()->identifier();
    ASSERT_TRUE(sensor);
    const auto told = PelkData::shared()->sensorVersionOf(*sensor);
    ASSERT_EQ(told, std::llround(std::stod(profile.version) * 100))
        << "the version read at the connection, stored as this sensor's";

    const struct {
        const char* name;
        std::optional<std::string> kqi;  // its answer, none for silence
        std::optional<int64_t> stored;   // stored as this sensor's before the connection
        bool complete;                   // with a version told before that reaches every minimum
    } rows[] = {
        // Cut short by a digit: a version not read, never 4.00. The one told before decides.
        {"KQI answered OSAPI 4.0", "OSAPI 4.0", std::nullopt, true},
        {"KQI answered OSAPI 4.", "OSAPI 4.", std::nullopt, true},
        // An older version told before, the sensor's newer one not answered now.
        {"3.00 stored, KQI unanswered", std::nullopt, 300, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.stored) PelkData::shared()->setSensorVersionOf(*sensor, *row.stored);
        profile.answers["KQI"] = row.kqi;
        core->setProfile(profile);
        ASSERT_NO_FATAL_FAILURE(reconnectListed());
        EXPECT_EQ(gateway->sensorVersion(), 0.0f) << "not read";
        EXPECT_EQ(PelkData::shared()->sensorVersionOf(*sensor), row.stored.value_or(*told))
            << "nothing stored";
        const size_t logged = gwtest::libraryLogText().size();
        ScanRecorder recorder;
        auto end = fullScan(profile.vin, recorder);
        ASSERT_TRUE(end && end->result());
        const std::string log = gwtest::libraryLogText().substr(logged);
        constexpr std::string_view kNotRead =
            "Modules not read, the sensor's firmware version is not known: ";
        const size_t at = log.find(kNotRead);
        const std::string named =
            at == std::string::npos ? "" : log.substr(at, log.find_first_of("\n[", at) - at);
        if (*end->result()) {
            // Complete: every module the version read gave, as it gave them; nothing named.
            EXPECT_EQ(moduleLines(modulesOf(end)), moduleLines(modules));
            EXPECT_EQ(named, "");
            continue;
        }
        EXPECT_FALSE(row.complete) << named;
        EXPECT_EQ(end->result()->error().kind(), PelkScanError::Kind::communicaton);
        // Each module missing is named as not read for its firmware.
        const Texts lines = moduleLines(end->result()->error().modules());
        for (const auto& m : modules) {
            const Texts mine = moduleLines({m});
            if (std::find(lines.begin(), lines.end(), mine.front()) != lines.end()) continue;
            EXPECT_NE(named.find(m->name() + " "), std::string::npos)
                << mine.front() << " left out unsaid";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(SimulatedVehicles, MakeProfile, ::testing::ValuesIn(profilesWithModules()),
                         profileTestName);
