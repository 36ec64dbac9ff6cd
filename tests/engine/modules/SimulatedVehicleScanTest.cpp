// Full and quick scans, clears and the sensor's restore, end to end on the simulated vehicles of
// BMW, Nissan, Mercedes, the Volkswagen group, Mitsubishi and Subaru (sim/profiles).

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "SimulatedVehicleRig.hpp"
#include "lib/Descriptions/QZETroubleCodes.hpp"

using namespace qz;
using namespace qz::modtest;

namespace {

using Texts = std::vector<std::string>;

struct ExpectedModule {
    std::string key;  // "<bus key>/<acronym>"
    bool common;      // read by a quick scan too
    Texts codes;      // "<code> <status>", or the code alone when it has no status
};

struct MakeCase {
    const char* name;
    const char* profile;
    std::vector<ExpectedModule> modules;
    // One code's full description.
    std::string sampleKey, sampleCode, sampleDescription;
    // The last commands of every scan and clear: the sensor back on its bus.
    Texts restoreTail;
    // Commands a full scan never sends (what the scanner switched on stays on).
    Texts neverSent = {};
};

void PrintTo(const MakeCase& c, std::ostream* os) {
    *os << c.name;
}

const Texts kCanRestore{"KQD", "010D", "KQSH7FF", "KQCF7FF", "3E", "KQD"};
const Texts kKLineRestore{"KQD", "010D", "KQX0"};

const MakeCase kCases[] = {
    {"Bmw",
     "bmw.json",
     {{"1/BMWVB33DME", true, {"P29CC-00 CONFIRMED", "P2A82-12 MIL/CONFIRMED/PENDING"}},
      {"1/BMWVB33DSC", true, {"C1E20-00 PENDING"}},
      {"4/BMWVB33IHKA-80", false, {"B1E10 STORED"}},
      {"99/BMWVB33RDC-70", false, {"C0035 PENDING"}}},
     "1/BMWVB33DME",
     "P2A82-12",
     "Intake VANOS control fault, camshaft stuck: Circuit short to battery",
     kCanRestore},
    {"Nissan",
     "nissan.json",
     {{"4/ECM", true, {"P1148 STORED", "P1614 ACTIVE"}},
      {"4/ABS", true, {"C1101 PENDING"}},
      {"4/AIRBAG", true, {"B1000 STORED"}},
      {"97/ABS", true, {"C1101-N13 CONFIRMED"}},
      {"97/BCM", true, {"U1000-N87 MIL/CONFIRMED", "U1001-N88 PENDING"}}},
     "97/ABS",
     "C1101-N13",
     "Right rear wheel speed sensor: Open circuit",
     {"KQCM7F8", "KQSP3", "KQD", "010D", "KQX0"},
     {"KQH0"}},
    {"MercedesCan",
     "mercedes.json",
     {{"1/$7E0", true, {"P0016-00 CONFIRMED", "P0171-00 CONFIRMED/PENDING", "P2004-00 PENDING"}},
      {"1/ESP9", true, {"C1020-00 CONFIRMED", "C1032-00 CONFIRMED"}}},
     "1/$7E0",
     "P2004-00",
     "Intake manifold runner control stuck open, bank 1: No sub type information",
     kCanRestore},
    {"MercedesKline",
     "mercedes-kline.json",
     {{"4/HFM62-70", true, {"P0100 MIL/PRESENT", "P0130 MIL/NOT PRESENT"}},
      {"4/ABR-70", true, {"C1200 PRESENT"}},
      {"4/KLA_KL-D0", false, {"B1000 INTERMITTENT"}},
      {"96/ME-70", true, {"P1570 MIL/PRESENT"}},
      {"96/AB-B0", true, {"B1000 NOT PRESENT"}}},
     "4/ABR-70",
     "C1200",
     "Brake pressure sensor implausible",
     kKLineRestore},
    {"Volkswagen",
     "volkswagen.json",
     {{"1/01", true, {"P0171-00 CONFIRMED", "P0299-00 CONFIRMED/PENDING"}},
      {"1/15", true, {"B1001-00 CONFIRMED"}},
      {"98/01", true, {"P0300 STORED", "P1297 ACTIVE"}},
      {"98/03", true, {"C1130 STORED"}},
      {"4/17", true, {"U0155 STORED"}}},
     "98/03",
     "C1130",
     "Wheel speed sensor left front signal faulty",
     kCanRestore},
    {"Mitsubishi",
     "mitsubishi.json",
     {{"4/ABS", true, {"C1210 STORED"}},
      {"4/ENG", true, {"P0100", "P0335"}},
      {"4/AT", true, {"P1751 STORED"}},
      {"4/SRS", true, {"B0001"}},
      {"1/ENG", true, {"P1400 STORED", "P1510 ACTIVE"}},
      {"1/ETACS", true, {"U1100 STORED"}}},
     "4/ENG",
     "P0335",
     "Crank angle sensor circuit",
     {"KQCM7F8", "KQD", "010D", "KQX0"}},
    {"Subaru",
     "subaru.json",
     {{"1/ECM", true, {"P0130 CONFIRMED", "P1443 CONFIRMED/PENDING", "P0301 PENDING"}},
      {"1/VDC", true, {"C0021 CONFIRMED"}},
      {"4/ECM", true, {"P0031 STORED", "P1152 PENDING"}},
      {"4/ABS", true, {"C0022 ACTIVE"}}},
     "1/ECM",
     "P1443",
     "Vent control solenoid valve function problem",
     kCanRestore},
};

// The reported modules that hold codes, by key, each code with its status.
std::map<std::string, Texts> codesByModule(const std::vector<QZEModuleDataPtr>& modules) {
    std::map<std::string, Texts> out;
    for (const auto& module : modules) {
        const auto codes = module->codeList().value_or(Texts{});
        if (codes.empty()) continue;
        const auto statuses = module->statusList().value_or(Texts{});
        Texts entries;
        for (size_t i = 0; i < codes.size(); ++i) {
            const std::string status = i < statuses.size() ? statuses[i] : "";
            entries.push_back(codes[i] + (status.empty() ? "" : " " + status));
        }
        EXPECT_EQ(out.count(moduleKey(*module)), 0u) << moduleKey(*module) << " reported twice";
        out[moduleKey(*module)] = entries;
    }
    return out;
}

std::map<std::string, Texts> expected(const MakeCase& c, bool quick) {
    std::map<std::string, Texts> out;
    for (const auto& m : c.modules)
        if (!quick || m.common) out[m.key] = m.codes;
    return out;
}

Texts tail(const Texts& commands, size_t n) {
    return Texts(commands.end() - static_cast<std::ptrdiff_t>(std::min(n, commands.size())),
                 commands.end());
}

class MakeScan : public SimulatedVehicleTest, public ::testing::WithParamInterface<MakeCase> {};

}  // namespace

TEST_P(MakeScan, ScansFindTheCodesAClearClearsAndTheSensorIsRestored) {
    const MakeCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(connectTo(c.profile));
    const std::string startState = sensorState();

    // Quick scan: the common modules.
    auto quick = scan(QZEnhancedScanner::kQuickScan);
    EXPECT_EQ(codesByModule(quick), expected(c, true));
    EXPECT_EQ(tail(core->commands(), c.restoreTail.size()), c.restoreTail);
    EXPECT_EQ(sensorState(), startState);

    // Full scan: every module, each code described.
    core->clearCommands();
    auto full = scan(QZEnhancedScanner::kFullScan);
    EXPECT_EQ(codesByModule(full), expected(c, false));
    EXPECT_EQ(tail(core->commands(), c.restoreTail.size()), c.restoreTail);
    EXPECT_EQ(sensorState(), startState);
    const auto commands = core->commands();
    for (const auto& command : c.neverSent)
        EXPECT_EQ(std::count(commands.begin(), commands.end(), command), 0) << command;
    const bool maskSet = std::find_if(commands.begin(), commands.end(), [](const auto& cmd) {
                             return cmd.starts_with("KQCM") && cmd != "KQCM7F8";
                         }) != commands.end();
    if (maskSet) {
        EXPECT_NE(std::find(commands.end() - 9, commands.end(), "KQCM7F8"), commands.end())
            << "the mask is restored";
    }
    EXPECT_EQ(lastInteractions, std::string(c.name) == "Bmw" ? 1 : 0);

    bool sampled = false;
    for (const auto& module : full) {
        const auto codes = module->codeList().value_or(Texts{});
        const auto definitions = module->definitionList().value_or(Texts{});
        ASSERT_EQ(definitions.size(), codes.size()) << moduleKey(*module);
        for (size_t i = 0; i < codes.size(); ++i) {
            EXPECT_FALSE(definitions[i].empty()) << moduleKey(*module) << " " << codes[i];
            EXPECT_NE(definitions[i], QZETroubleCodes::kNoDescription)
                << moduleKey(*module) << " " << codes[i];
            if (moduleKey(*module) == c.sampleKey && codes[i] == c.sampleCode) {
                EXPECT_EQ(definitions[i], c.sampleDescription);
                sampled = true;
            }
        }
    }
    EXPECT_TRUE(sampled) << c.sampleKey << " " << c.sampleCode;

    // Clearing every module that had codes; the next scan finds none. Each clear ends as a
    // scan does (what comes before depends on the bus the module was on).
    const Texts finalRestore(std::find(c.restoreTail.begin(), c.restoreTail.end(), "KQD"),
                             c.restoreTail.end());
    for (const auto& module : full) {
        if (module->codeList().value_or(Texts{}).empty()) continue;
        core->clearCommands();
        EXPECT_TRUE(clear(module)) << moduleKey(*module);
        EXPECT_EQ(tail(core->commands(), finalRestore.size()), finalRestore) << moduleKey(*module);
        EXPECT_EQ(sensorState(), startState) << moduleKey(*module);
    }
    EXPECT_EQ(codesByModule(scan(QZEnhancedScanner::kFullScan)), (std::map<std::string, Texts>{}));
}

INSTANTIATE_TEST_SUITE_P(SimulatedVehicles, MakeScan, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });
