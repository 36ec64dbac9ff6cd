// The module classes end to end: QZEnhancedScanner -> QZEModuleScanner -> module class ->
// QZEVehicle -> Vehicle -> relay -> MFi session -> simulated vehicle, one make's profile per
// case. Pauses cost nothing (SimulatedVehicleRig).

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "engine/modules/SimulatedVehicleRig.hpp"

using namespace qz;
using namespace qz::modtest;

namespace {

struct Code {
    std::string code;
    std::string status;
    friend bool operator<(const Code& a, const Code& b) {
        return std::tie(a.code, a.status) < std::tie(b.code, b.status);
    }
    friend bool operator==(const Code& a, const Code& b) = default;
};

// A module that reports codes: its bus key and (scan-given) acronym.
struct Found {
    std::string bus;
    std::string acronym;
    bool common = true;  // also found by a quick scan
    std::vector<Code> codes;
};

struct Case {
    std::string name;
    std::string profile;  // sim/profiles/<profile>.json
    int bus;              // the vehicle's bus (overrides the profile's)
    std::string vin;
    std::vector<Found> found;
    // The last commands of a scan: the sensor put back on its starting bus.
    std::vector<std::string> restore;
    // Key cycles asked of the user in the first scan.
    int prompts = 0;
    // The sensor echoes every command before its answer.
    bool echo = false;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

using Results = std::map<std::pair<std::string, std::string>, std::set<Code>>;

Results expected(const Case& c, bool quick) {
    Results out;
    for (const auto& f : c.found)
        if (!quick || f.common) out[{f.bus, f.acronym}].insert(f.codes.begin(), f.codes.end());
    return out;
}

// The Toyota's CAN modules, its units behind the body gateway among them.
const std::vector<Found> kToyotaCan = {
    {"1", "ECM", true, {{"P1135", "STORED"}, {"P1656", "STORED"}}},
    {"1",
     "ABS",
     true,
     {{"C1201", "STORED"}, {"C1241", "STORED"}, {"C1249", "STORED"}, {"C1336", "STORED"}}},
    {"1", "EPS", false, {{"U0293", "STORED"}}},
    {"1", "BODY", true, {{"B1650", "STORED"}}},
    {"1", "TPMS", false, {{"U0100", "STORED"}, {"U0121", "STORED"}}}};

const std::vector<std::string> kRestoreCan11 = {"KQSP6",   "KQCM7F8", "KQD", "010D",
                                                "KQSH7FF", "KQCF7FF", "3E",  "KQD"};

class ModuleScanEndToEnd : public SimulatedVehicleTest, public ::testing::WithParamInterface<Case> {
  protected:
    void SetUp() override {
        SimulatedVehicleTest::SetUp();
        const Case& c = GetParam();
        auto profile = profileNamed(c.profile + ".json");
        profile.bus = c.bus;
        profile.vin = c.vin;
        profile.echo = c.echo;
        minimumReads = 3;
        ASSERT_NO_FATAL_FAILURE(connectTo(std::move(profile)));
    }

    static Results codesOf(const std::vector<QZEModuleDataPtr>& modules) {
        Results out;
        for (const auto& m : modules) {
            const auto codes = m->codeList().value_or(std::vector<std::string>{});
            const auto statuses = m->statusList().value_or(std::vector<std::string>{});
            const auto texts = m->definitionList().value_or(std::vector<std::string>{});
            // A fault without a code number goes by its text ("- UNKNOWN 1").
            for (size_t i = 0; i < codes.size(); ++i)
                out[{m->busType().value_or(""), m->accronym().value_or("")}].insert(
                    {codes[i].empty() && i < texts.size() ? "- " + texts[i] : codes[i],
                     i < statuses.size() ? statuses[i] : "?"});
        }
        return out;
    }

    // Every code has a text of its own.
    static void expectDescribed(const std::vector<QZEModuleDataPtr>& modules) {
        for (const auto& m : modules) {
            const auto codes = m->codeList().value_or(std::vector<std::string>{});
            const auto texts = m->definitionList().value_or(std::vector<std::string>{});
            ASSERT_EQ(texts.size(), codes.size()) << m->accronym().value_or("");
            for (size_t i = 0; i < codes.size(); ++i) {
                EXPECT_FALSE(texts[i].empty()) << codes[i];
                EXPECT_NE(texts[i], "No description available") << codes[i];
            }
        }
    }

    // The scan ends with the sensor back on its starting bus and pins.
    void expectRestored(const std::string& protocol, const std::string& pins) {
        const auto commands = sent();
        const auto& tail = GetParam().restore;
        ASSERT_GE(commands.size(), tail.size());
        EXPECT_EQ(std::vector<std::string>(commands.end() - static_cast<long>(tail.size()),
                                           commands.end()),
                  tail);
        EXPECT_EQ(core->protocol(), protocol);
        EXPECT_EQ(core->pins(), pins);
    }
};

TEST_P(ModuleScanEndToEnd, FullAndQuickScansFindTheCodesAndAClearClearsThem) {
    const Case& c = GetParam();
    const std::string protocol = core->protocol();
    const std::string pins = core->pins();

    core->clearCommands();
    const double pausedBefore = clock->slept();
    auto full = scan(QZEnhancedScanner::kFullScan);
    EXPECT_EQ(codesOf(full), expected(c, false));
    expectDescribed(full);
    expectRestored(protocol, pins);
    EXPECT_GE(clock->slept() - pausedBefore, 5.0);  // the pause before the restore
    EXPECT_EQ(modulePrompts, c.prompts);

    core->clearCommands();
    auto quick = scan(QZEnhancedScanner::kQuickScan);
    EXPECT_EQ(codesOf(quick), expected(c, true));
    expectRestored(protocol, pins);

    for (const auto& module : full) {
        if (module->codeList() && !module->codeList()->empty()) {
            EXPECT_TRUE(clear(module)) << module->accronym().value_or("");
        }
    }
    EXPECT_TRUE(codesOf(scan(QZEnhancedScanner::kFullScan)).empty());
}

std::vector<Case> cases() {
    const std::vector<std::string> kLine5 = {"KQSP5", "KQD", "010D", "KQX0"};
    const std::vector<std::string> can29 = {"KQSP7",        "KQCMFFFFFF00", "KQD", "010D",
                                            "KQSH1FFFFFFF", "KQCF1FFFFFFF", "3E",  "KQD"};
    return {
        {"GmCan",
         "gm",
         6,
         "1G1ZT53826F109149",
         {{"1", "ECM", true, {{"P1101", "CURRENT/HISTORY/MIL"}, {"P0171", "CURRENT"}}},
          {"1", "PSCM", false, {{"C0460", "CURRENT/HISTORY"}}},
          {"1", "EBCM", true, {{"C0035", "HISTORY"}}},
          {"58", "BCM", true, {{"B1000", "MIL"}}},
          {"3", "PCM", true, {{"P0171", "CURRENT/MIL"}, {"P1380", "HISTORY"}}},
          {"3", "EBCM", true, {{"C0040", "CURRENT"}}}},
         kRestoreCan11},
        {"GmVpw",
         "gm",
         2,
         "1G1ZT53826F109149",
         {{"3", "PCM", true, {{"P0171", "CURRENT/MIL"}, {"P1380", "HISTORY"}}},
          {"3", "EBCM", true, {{"C0040", "CURRENT"}}},
          {"95", "ECM", true, {{"P1101", "CURRENT/HISTORY/MIL"}, {"P0171", "CURRENT"}}},
          {"95", "PSCM", false, {{"C0460", "CURRENT/HISTORY"}}},
          {"95", "EBCM", true, {{"C0035", "HISTORY"}}}},
         {"KQCM7F8", "KQSP2", "KQD", "010D"}},
        {"ChryslerCan",
         "chrysler",
         6,
         "1C3CC5FB2AN120174",
         {{"1", "PCM", true, {{"P1281", "ACTIVE/MIL"}, {"P1684", "STORED"}}},
          {"1", "BCM", true, {{"B1A00", "STORED"}}},
          {"1", "TIPM", false, {{"U1110", "ACTIVE"}}},
          {"3", "PCM", true, {{"P1294", "STORED"}, {"P1693", "STORED"}}},
          {"3", "BCM", true, {{"B1210", "STORED"}}},
          {"3", "ACM", true, {{"B1001", "STORED"}}},
          // Fault blocks 1-3 of the ABS, two faults without a code number among them.
          {"3",
           "CAB",
           true,
           {{"36", "STORED"},
            {"32", "STORED"},
            {"- UNKNOWN 1", "STORED"},
            {"71", "STORED"},
            {"54", "STORED"},
            {"- UNKNOWN 12", "STORED"}}}},
         kRestoreCan11},
        {"ChryslerCan29",
         "chrysler",
         7,
         "1C3CC5FB2AN120174",
         {{"7", "ECM", true, {{"P1282", "STORED/MIL"}}},
          {"10", "EPB", false, {{"C1015", "STORED"}}},
          {"11", "RADIO", true, {{"U1120", "STORED"}}}},
         can29},
        {"FordCan",
         "ford",
         6,
         "1FAFP53U85A123456",
         {{"1", "PCM", true, {{"P1000", "ACTIVE/MIL"}, {"P1131", "STORED"}}},
          {"1", "TCM", true, {{"P1744-00", "CONFIRMED/PENDING"}}},
          {"1", "GWM", false, {{"U2023-00", "CONFIRMED"}}},
          {"1", "ABS", true, {{"C1145", "ACTIVE"}}},
          {"1", "DDM", false, {{"B1318", "STORED"}}},
          {"1", "GWM*MSCAN", false, {{"U2023-00", "CONFIRMED"}}},
          {"1", "IPC*MSCAN", true, {{"U1900", "STORED"}}},
          {"2", "PCM", true, {{"P1000", "STORED"}, {"P0420", "STORED"}}},
          {"2", "ABS", true, {{"C1155", "STORED"}}}},
         kRestoreCan11},
        {"FordPwm",
         "ford",
         1,
         "1FAFP53U85A123456",
         {{"2", "PCM", true, {{"P1000", "STORED"}, {"P0420", "STORED"}}},
          {"2", "ABS", true, {{"C1155", "STORED"}}}},
         {"KQSP1", "KQD", "010D"}},
        {"MazdaCan",
         "mazda",
         6,
         "JM1BK32F781234567",
         {{"1", "PCM", true, {{"P1603", "ACTIVE/MIL"}, {"P0300", "STORED"}}},
          {"1", "TCM", true, {{"P0700-00", "CONFIRMED/PENDING"}}},
          {"1", "IPC*MSCAN", true, {{"U0155", "STORED"}}},
          {"1", "HVAC*MSCAN", false, {{"U0164", "ACTIVE"}}}},
         kRestoreCan11},
        {"ToyotaCan", "toyota", 6, "JTDKB20U193123456", kToyotaCan, kRestoreCan11},
        // The same, every command echoed (units behind the gateway included).
        {"ToyotaCanEchoed", "toyota", 6, "JTDKB20U193123456", kToyotaCan, kRestoreCan11, 0, true},
        // The ECM's own protocol (3) is put back to the bus's (5) for the units after it.
        {"ToyotaKLine",
         "toyota",
         5,
         "JT2BG22K1Y0123456",
         {{"4", "ECM", true, {{"P0335", "STORED"}, {"P0171", "STORED"}, {"P1135", "STORED"}}},
          {"4", "ABS", true, {{"C1249", "STORED"}}},
          {"4", "BODY", false, {{"B1650", "STORED"}}}},
         kLine5,
         1},
        {"HondaKLine",
         "honda",
         5,
         "1HGCG5659YA123456",
         {{"4", "PGMFI", true, {{"P1456", "ACTIVE/MIL"}, {"P1259", "STORED"}}},
          {"4", "AT", true, {{"P0740", "STORED"}, {"P0753", "STORED"}}},
          {"4", "ABS", true, {{"C0040", "STORED"}, {"31", "STORED"}}},
          {"4", "SRS", true, {{"B0001", "ACTIVE"}, {"B0052", "ACTIVE"}}},
          // Read again on DIAG-H, named by that line.
          {"4", "ABS*DIAGH", true, {{"C0040", "STORED"}, {"31", "STORED"}}},
          {"4", "SRS*DIAGH", true, {{"B0001", "ACTIVE"}, {"B0052", "ACTIVE"}}},
          {"4", "EPS*DIAGH", false, {{"U0131", "ACTIVE"}}},
          {"4", "IMMO", false, {{"U0155", "STORED"}}}},
         kLine5},
        {"HondaCan",
         "honda",
         7,
         "1HGCM82633A004352",
         {{"7", "PGMFI", true, {{"P1457-00", "CONFIRMED/PENDING"}, {"P1297-00", "CONFIRMED"}}},
          {"7", "VSA", true, {{"U0121-00", "MIL/CONFIRMED"}}},
          {"7", "TPMS", false, {{"U0127-00", "CONFIRMED"}}},
          {"4", "PGMFI", true, {{"P1456", "ACTIVE/MIL"}, {"P1259", "STORED"}}},
          {"4", "AT", true, {{"P0740", "STORED"}, {"P0753", "STORED"}}},
          {"4", "ABS", true, {{"C0040", "STORED"}, {"31", "STORED"}}},
          {"4", "SRS", true, {{"B0001", "ACTIVE"}}}},
         can29},
        {"HyundaiCan",
         "hyundai",
         6,
         "KMHDN46D25U123456",
         {{"1", "ECM", true, {{"P1326-00", "CONFIRMED/PENDING"}, {"P1529-00", "MIL/CONFIRMED"}}},
          {"1", "ABS", true, {{"C1611-00", "CONFIRMED"}}},
          {"1", "SMK", false, {{"B1602-00", "CONFIRMED"}}},
          {"4", "ECM-80", true, {{"P1166", "MIL/NOT PRESENT"}}},
          {"4", "ABS-D0", true, {{"C0035", "PRESENT"}}},
          {"4", "ETACS-70", false, {{"B1602", "INTERMITTENT"}}},
          {"12", "ABS", true, {{"C0051", "PRESENT"}}},
          {"12", "SRS", true, {{"B0001", "MIL/PRESENT"}}}},
         kRestoreCan11},
        {"HyundaiKLine",
         "hyundai",
         5,
         "KMHDN46D25U123456",
         {{"4", "ECM-80", true, {{"P1166", "MIL/NOT PRESENT"}}},
          {"4", "ABS-D0", true, {{"C0035", "PRESENT"}}},
          {"4", "ETACS-70", false, {{"B1602", "INTERMITTENT"}}},
          {"12", "ABS", true, {{"C0051", "PRESENT"}}},
          {"12", "SRS", true, {{"B0001", "MIL/PRESENT"}}}},
         kLine5},
    };
}

INSTANTIATE_TEST_SUITE_P(Makes, ModuleScanEndToEnd, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
