#include "engine/scanning/ScanningFakes.hpp"
#include "lib/Modules/Makes/Chrysler.hpp"
#include "lib/Modules/Makes/Ford.hpp"
#include "lib/Modules/Makes/Gm.hpp"
#include "lib/Modules/Makes/Hyundai.hpp"
#include "lib/Modules/Makes/Mitsubishi.hpp"
#include "lib/Modules/Makes/Nissan.hpp"
#include "lib/Modules/Makes/Subaru.hpp"
#include "lib/Modules/Makes/Toyota.hpp"

namespace qz::scanningtest {
namespace {

class ModuleScannerTest : public ScanningTest {
  protected:
    // A scanner set up for a clear on the starting bus, with the set-up events dropped.
    TestModuleScanner& start(int64_t bus) {
        vehicle->script("KQDP", {std::to_string(bus) + "\r\r>"});
        scanner = std::make_unique<TestModuleScanner>(script, fakes.events);
        scanner->prepareForClear();
        clearEvents();
        return *scanner;
    }
    std::unique_ptr<TestModuleScanner> scanner;
};

template <class T>
std::type_index type() {
    return typeid(T);
}

TEST_F(ModuleScannerTest, SetUpLearnsTheStartingBus) {
    struct Case {
        const char* name;
        int64_t make;
        int64_t scanType;
        bool newCommands;
        std::string protocol;
        std::string reply;  // to "KQDP"
        int refusals;       // set-up commands refused first
        bool ok;
        int64_t bus;
        Texts events;
    };
    const std::string dle = std::string("\x10") + "KQCD1";
    const std::vector<Case> cases = {
        {"full scan", 6, 1, true, "ISO", "6\r\r>", 0, true, 6, {"setup:KQRP1", "send:KQDP"}},
        {"check-engine scan: no response bytes",
         6,
         0,
         true,
         "ISO",
         "6\r\r>",
         0,
         true,
         6,
         {"send:KQDP"}},
        {"the old command set",
         6,
         2,
         false,
         "ISO",
         "3\r>",
         0,
         true,
         3,
         {"setup:ATRP1", "send:ATDP"}},
        {"two digits stay themselves",
         1,
         1,
         true,
         "CAN",
         "58\r\r>",
         0,
         true,
         58,
         {"setup:KQRP1", "send:KQDP"}},
        {"after an echo",
         6,
         1,
         true,
         "ISO",
         "KQDP\r97\r\r>",
         0,
         true,
         97,
         {"setup:KQRP1", "send:KQDP"}},
        {"no data, without its blank",
         6,
         1,
         true,
         "ISO",
         "NODATA\r\r>",
         0,
         false,
         999,
         {"setup:KQRP1", "send:KQDP"}},
        {"empty", 6, 1, true, "ISO", "", 0, false, 999, {"setup:KQRP1", "send:KQDP"}},
        {"response bytes refused",
         6,
         1,
         true,
         "ISO",
         "6\r>",
         -1,
         false,
         6,
         {"setup:KQRP1", "send:KQDP"}},
        {"BMW on CAN",
         5,
         1,
         true,
         "CAN11_500",
         "6\r>",
         0,
         true,
         6,
         {"setup:KQRP1", "send:KQDP", "setup:KQSH6F1", "setup:" + dle}},
        {"BMW on CAN, check engine", 5, 0, true, "CAN11_500", "6\r>", 0, true, 6, {"send:KQDP"}},
        {"BMW on K-line", 5, 1, true, "ISO", "4\r>", 0, true, 4, {"setup:KQRP1", "send:KQDP"}},
        {"BMW header refused",
         5,
         1,
         true,
         "CAN11_500",
         "6\r>",
         2,
         false,
         6,
         {"setup:KQRP1", "send:KQDP", "setup:KQSH6F1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setMake(c.make);
        fakes.settings->newCommandSet = c.newCommands;
        vehicle->protocolText = c.protocol;
        vehicle->script(c.newCommands ? "KQDP" : "ATDP", {c.reply});
        vehicle->refuseSetups(c.refusals);
        clearEvents();
        TestModuleScanner s(script, fakes.events);
        const bool ok = s.setupScan(c.scanType);
        vehicle->refuseSetups(0);
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(s.originalBus(), c.bus);
        if (c.ok) {
            EXPECT_EQ(s.getActiveBus(), c.bus);
        }
        Texts sent;
        for (const auto& e : events())
            if (e.starts_with("setup:") || e.starts_with("send:")) sent.push_back(e);
        EXPECT_EQ(sent, c.events);
    }
    // No sensor: no starting bus, and the missing reply is logged as such.
    fakes.crew.registerVehicleCommuications(nullptr);
    fakes.logger->clear();
    TestModuleScanner s(script, fakes.events);
    EXPECT_FALSE(s.setupScan(1));
    EXPECT_EQ(s.originalBus(), QZEModuleScanner::kNoBus);
    EXPECT_EQ(fakes.logger->linesStartingWith("V:Response"), Texts{"V:Response string: (null)"});
}

// The loader runs for every scan type; the quick scan lists the common modules only.
TEST_F(ModuleScannerTest, SetUpLoadsTheModuleLists) {
    setMake(7);
    vehicle->protocolText = "ISO 9141";
    writeResource("enhanceddiag/Honda_KLINE.xml", R"(<m>
        <module Acronym="PGM" Description="Engine" Request_ID="10" Common="1"/>
        <module Acronym="SRS" Description="Airbag" Request_ID="20"/></m>)");
    vehicle->script("KQDP", {"4\r>"});
    for (int64_t type : {0, 1, 2}) {
        TestModuleScanner s(script, fakes.events);
        s.setupScan(type);
        ASSERT_EQ(s.moduleDictionary().allKeys(), Texts{"4"}) << type;
        Texts acronyms;
        for (const auto& m : *s.moduleDictionary().objectForKey("4"))
            acronyms.push_back(m->accronym().value_or(""));
        EXPECT_EQ(acronyms, type == 2 ? Texts{"PGM"} : (Texts{"PGM", "SRS"})) << type;
    }
}

// Each bus key and make: the sensor preparation of the first module, of a second module on the
// same bus, and the module class with its settings.
TEST_F(ModuleScannerTest, LoadsTheModuleClassOfEachBusAndMake) {
    struct Case {
        int64_t make;
        int64_t startBus;
        int64_t key;
        std::type_index cls;
        Texts first;
        Texts second;
        int32_t scanType = 1;
    };
    const std::type_index none = typeid(void);
    const std::vector<Case> cases = {
        {3,
         6,
         2,
         type<QZEFordPWMDiagnosticModule>(),
         {"setup:KQX1", "setup:KQSP1"},
         {"setup:KQSP1"}},
        {3, 6, 2, type<QZEFordPWMDiagnosticModule>(), {"setup:KQSP1"}, {"setup:KQSP1"}, 0},
        {3, 1, 2, type<QZEFordPWMDiagnosticModule>(), {"setup:KQX1"}, {}},
        {1, 6, 3, type<QZEGmVpwDiagnosticModule>(), {"setup:KQSP2", "setup:KQX1"}, {}},
        {2, 6, 3, type<QZEChryslerVPWDiagnosticModule>(), {"setup:KQSP2"}, {}},
        {2, 2, 3, type<QZEChryslerVPWDiagnosticModule>(), {}, {}},
        {4,
         6,
         4,
         type<QZEToyotaKlineDiagnosticModule>(),
         {"send:KQSP5", "setup:KQX1", "setup:KQH1"},
         {}},
        {4, 4, 4, type<QZEToyotaKlineDiagnosticModule>(), {"setup:KQX1", "setup:KQH1"}, {}},
        {9,
         6,
         96,
         type<QZEMercedesMBISODiagModule>(),
         {"send:KQSP5", "setup:KQX1", "setup:KQH1"},
         {}},
        {9, 5, 4, type<QZEMercedesKlineDiagnosticModule>(), {"setup:KQX1", "setup:KQH1"}, {}},
        {9, 5, 99, none, {"setup:KQX1", "setup:KQH1"}, {}},
        {5, 6, 99, type<QZEBmwKlineDiagnosticModule>(), {"send:KQSP5"}, {}},
        {6,
         6,
         4,
         type<QZENissanKWPDiagnosticModule>(),
         {"send:KQSP5", "setup:KQX1", "setup:KQH1"},
         {}},
        {7, 6, 4, type<QZEHondaKlineDiagnosticModule>(), {"send:KQSP5", "setup:KQH1"}, {}},
        {8, 6, 4, type<QZEVAGKLineModule>(), {"send:KQSP5", "setup:KQH1"}, {}},
        {10, 6, 4, type<QZEHyundaiKlineModule>(), {"send:KQSP5", "setup:KQX1", "setup:KQH1"}, {}},
        {12, 6, 4, type<QZEMitsubishiKlineDiagnosticModule>(), {"send:KQSP5"}, {}},
        {13,
         6,
         4,
         type<QZESubaruKlineDiagnosticModule>(),
         {"send:KQSP5", "setup:KQX1", "setup:KQH1"},
         {}},
        {2, 6, 4, none, {"send:KQSP5"}, {}},
        {10, 5, 12, type<QZEHyundaiMutModule>(), {}, {}},
        {1,
         6,
         1,
         type<QZEGmCANDiagnosticModule>(),
         {"setup:KQCM7FF", "setup:KQX1", "setup:KQH1"},
         {}},
        {1, 6, 58, type<QZEGmCANDiagnosticModule>(), {"setup:KQCM7FF", "setup:KQH1"}, {}, 0},
        {1,
         2,
         95,
         type<QZEGmCANDiagnosticModule>(),
         {"setup:KQX1", "setup:KQH1", "setup:KQSP6", "setup:KQCM7FF"},
         {}},
        {2, 6, 1, type<QZEChryslerCANDiagnosticModule>(), {"setup:KQCM7FF"}, {}},
        {2, 7, 7, type<QZEChryslerCANDiagnosticModule>(), {"setup:KQCM1FFFFFFF"}, {}},
        {2, 7, 11, type<QZEChryslerCANDiagnosticModule>(), {"setup:KQCM1FFFFFFF"}, {}},
        {3, 6, 1, type<QZEFordCANDiagnosticModule>(), {"setup:KQCM7FF"}, {}},
        {11, 6, 1, type<QZEFordCANDiagnosticModule>(), {"setup:KQCM7FF"}, {}},
        {4, 6, 1, type<QZEToyotaCanDiagnosticModule>(), {"setup:KQCM7FF"}, {}},
        {5, 6, 1, type<QZEBmwCanDiagnosticModule>(), {"setup:KQCM7FF"}, {}},
        {7, 6, 1, type<QZEHondaCanDiagnosticModule>(), {"setup:KQCM1FFFFFFF"}, {}},
        {6, 6, 1, type<QZNissanCanDiagnosticModule>(), {"setup:KQCM7FF"}, {}},
        {6,
         5,
         97,
         type<QZNissanCanDiagnosticModule>(),
         {"setup:KQSP6", "setup:KQX0", "setup:KQCM7FF"},
         {}},
        {8,
         6,
         98,
         type<QZEVAGCanModule>(),
         {"setup:KQCM7FF", "setup:KQH1", "send:KQX1", "send:KQCR1"},
         {}},
        {8, 6, 1, type<QZEVAGCanModule>(), {"setup:KQCM7FF", "setup:KQH1"}, {}},
        {8,
         5,
         1,
         type<QZEVAGCanModule>(),
         {"setup:KQCM7FF", "setup:KQSP6", "setup:KQCM7FF", "setup:KQH1"},
         {}},
        {9, 6, 1, type<QZEMercedesCANDiagnosticModule>(), {"setup:KQCM7FF"}, {}},
        {10, 6, 1, type<QZEHyundaiCanModule>(), {"setup:KQCM7FF", "setup:KQH1"}, {}},
        {12, 5, 1, type<QZEMitsubishiCANDiagnosticModule>(), {"setup:KQCM7FF", "send:KQSP6"}, {}},
        {13, 6, 1, type<QZESubaruCanDiagnosticModule>(), {"setup:KQCM7FF"}, {}},
        {0, 6, 1, none, {"setup:KQCM7FF"}, {}},
        {3, 6, 5, none, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("make " + std::to_string(c.make) + " bus " + std::to_string(c.startBus) +
                     " key " + std::to_string(c.key) + " type " + std::to_string(c.scanType));
        setMake(c.make);
        auto& s = start(c.startBus);
        auto first = s.loadModule(c.key, c.scanType);
        EXPECT_EQ(first ? s.loaded.back().type : none, c.cls);
        EXPECT_EQ(events(), c.first);
        clearEvents();
        auto second = s.loadModule(c.key, c.scanType);
        EXPECT_EQ(events(), c.second);
    }
}

TEST_F(ModuleScannerTest, KLineClassesGetTheirSettings) {
    setMake(9);
    auto& s = start(5);
    s.setPerformMercedesFullKlineMethod(true);
    s.loadModule(96, 1);
    s.loadModule(4, 1);
    s.resetTransmissionDelay();
    s.loadModule(4, 1);
    ASSERT_EQ(s.loaded.size(), 3u);
    EXPECT_TRUE(s.loaded[0].delay);  // first after set-up
    EXPECT_FALSE(s.loaded[1].delay);
    EXPECT_TRUE(s.loaded[1].performAll);
    EXPECT_TRUE(s.loaded[2].delay);  // after a pin switch

    setMake(5);
    auto& bmw = start(6);
    bmw.setHighPin(8);
    bmw.loadModule(4, 1);
    bmw.loadModule(99, 1);
    EXPECT_EQ(bmw.getActiveBus(), 4);
    EXPECT_TRUE(bmw.loaded[0].delay);
    EXPECT_FALSE(bmw.loaded[0].alternate);
    EXPECT_EQ(bmw.loaded[0].highPin, 8);
    EXPECT_FALSE(bmw.loaded[1].delay);
    EXPECT_TRUE(bmw.loaded[1].alternate);

    setMake(10);
    auto& hyundai = start(5);
    hyundai.setHighPin(12);
    hyundai.loadModule(4, 1);
    EXPECT_EQ(hyundai.loaded[0].highPin, 12);
    EXPECT_TRUE(hyundai.loaded[0].delay);

    // One Volkswagen-group code store for every module of the scan, K-line and CAN.
    setMake(8);
    auto& vag = start(6);
    vag.loadModule(4, 1);
    vag.loadModule(98, 1);
    vag.loadModule(1, 1);
    ASSERT_TRUE(vag.loaded[0].store);
    EXPECT_EQ(vag.loaded[1].store, vag.loaded[0].store);
    EXPECT_EQ(vag.loaded[2].store, vag.loaded[0].store);
    // Raw CAN from key 98 is switched off again for key 1 and for a K-line module.
    clearEvents();
    vag.loadModule(98, 1);
    vag.loadModule(4, 1);
    EXPECT_EQ(events(), (Texts{"send:KQX1", "send:KQCR1", "send:KQSP5", "send:KQCR0"}));
}

// Retries against the best state remembered for the module and VIN; codes of all reads are
// gathered once each.
TEST_F(ModuleScannerTest, RereadsAModuleThatAnswersWorseThanBefore) {
    struct Case {
        const char* name;
        bool manager;
        int64_t best;  // remembered from an earlier scan
        std::vector<Read> reads;
        int count;  // reads made
        bool ok;
        int64_t state;  // of the record afterwards
    };
    const std::vector<Case> cases = {
        {"no manager: one read", false, 0, {{ResponseStateNoData}}, 1, true, 1},
        {"data before, none now: three reads", true, 3, {{ResponseStateNoData}}, 3, true, 1},
        {"data before, data now", true, 3, {{ResponseStateHasData}}, 1, true, 3},
        {"negative answers, then data",
         true,
         3,
         {{ResponseStateHasNakData}, {ResponseStateHasData}},
         2,
         true,
         3},
        {"no data remembered", true, 1, {{ResponseStateNoData}}, 1, true, 1},
        // Negative answers alone count as no answer, now and remembered.
        {"data before, negative answers now: three reads",
         true,
         3,
         {{ResponseStateHasNakData}},
         3,
         true,
         2},
        {"negative answers remembered, none now", true, 2, {{ResponseStateNoData}}, 1, true, 1},
        {"negative answers remembered and now", true, 2, {{ResponseStateHasNakData}}, 1, true, 2},
        {"codes beside negative answers are data",
         true,
         3,
         {{ResponseStateHasNakData, {"P0100"}, {"STORED"}}},
         1,
         true,
         2},
        {"a failed last read",
         true,
         3,
         {{1, {}, {}, {}, "", true}, {1, {}, {}, {}, "", false}},
         3,
         false,
         1},
    };
    setVin("1HGCM82633A004352");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fakes.crew.registerModuleStatusManager(c.manager ? statusManager : nullptr);
        auto& s = start(6);
        auto m = module("ECM", "1");
        statusManager->states.clear();
        statusManager->setResponseState(c.best, s.moduleKey(*m), session->vinText);
        script->reads["ECM"] = {c.reads.begin(), c.reads.end()};
        fakes.logger->clear();
        EXPECT_EQ(s.scanModule(m, 1), c.ok);
        EXPECT_EQ(fakes.eventsOf("read:").size(), static_cast<size_t>(c.count));
        EXPECT_EQ(fakes.logger->linesStartingWith("W:Retrying").size(),
                  static_cast<size_t>(c.count - 1));
        EXPECT_EQ(m->responseState(), c.state);
        if (c.manager) {
            EXPECT_EQ(statusManager->responseStateForModuleKey(s.moduleKey(*m), session->vinText),
                      c.reads[std::min<size_t>(c.count, c.reads.size()) - 1].state);
        }
    }
    fakes.crew.registerModuleStatusManager(statusManager);
    auto& s = start(6);
    auto m = module("ECM", "1");
    statusManager->setResponseState(3, s.moduleKey(*m), session->vinText);
    script->reads["ECM"] = {{1, {"P0100", "P0200"}, {"PENDING", "STORED"}, {"MAF"}},
                            {1, {"P0100", "P0100", "P0300"}, {"PENDING", "STORED"}},
                            {2, {"P0300"}, {"", ""}, {"Misfire"}}};
    fakes.logger->clear();
    s.scanModule(m, 1);
    EXPECT_EQ(s.codeArray(), (Texts{"P0100", "P0200", "P0100", "P0300"}));
    EXPECT_EQ(s.statusArray(), (Texts{"PENDING", "STORED", "STORED", ""}));
    EXPECT_EQ(s.definitionArray(), (Texts{"MAF", "", "", ""}));
    EXPECT_EQ(s.requestType(), 7);
    const auto retries = fakes.logger->linesStartingWith("W:Retrying");
    ASSERT_EQ(retries.size(), 2u);
    EXPECT_EQ(retries[1],
              "W:Retrying module: ECM module with request_ID: 7E0 manufacturer: 6 due to lower "
              "response state, current: ResponseStateNoData highestseen: ResponseStateHasData");
    EXPECT_EQ(fakes.logger->linesStartingWith("I:Scanning module complete"),
              Texts{"I:Scanning module complete: ECM module with request_ID: 7E0 manufacturer: 6 "
                    "found 1 codes -- ResponseStateHasNakData  "});
}

TEST_F(ModuleScannerTest, ModuleKeysAndStateTexts) {
    auto& s = start(6);
    vehicle->highPin = 7;
    auto m = module("ECM", "1", {{"TP2", "1"}, {"CallUp", "200"}});
    EXPECT_EQ(s.moduleKey(*m), "ECM module 7E0:7E8:1200 lowpin:0 highpin:7 bus:6");
    const std::vector<std::pair<int64_t, std::string>> texts = {{0, "ResponseStateUnknown"},
                                                                {1, "ResponseStateNoData"},
                                                                {2, "ResponseStateHasNakData"},
                                                                {3, "ResponseStateHasData"},
                                                                {4, "ResponseStateUnknown"}};
    for (const auto& [state, text] : texts)
        EXPECT_EQ(QZEModuleScanner::responseStateString(state), text);

    EXPECT_FALSE(s.scanModule(nullptr, 1));
    EXPECT_FALSE(s.scanModule(module("X", "5"), 5));
    EXPECT_EQ(fakes.logger->linesStartingWith("E:"), Texts{"E:No Module loaded!!"});
}

// Every clear path, with the result the module class's clear gave.
TEST_F(ModuleScannerTest, ClearsAlongTheModulesPath) {
    struct Case {
        const char* name;
        int64_t make;
        int64_t key;
        std::map<std::string, std::string> extras;
        bool clearResult;
        Texts events;  // before the sensor restore
        std::string busType = "1";
        std::string refused = {};  // a switch the sensor refuses: no clear
    };
    const std::vector<Case> cases = {
        {"plain", 3, 1, {}, true, {"setup:KQCM7FF", "clear:M"}},
        {"plain, failing", 3, 1, {}, false, {"setup:KQCM7FF", "clear:M"}},
        {"GM LAN",
         1,
         58,
         {{"*GM_LAN", "1"}},
         true,
         {"setup:KQSP:", "setup:KQCM7FF", "setup:KQH1", "clear:M"}},
        {"HS-CAN",
         3,
         1,
         {{"*HSCAN", "1"}},
         false,
         {"setup:KQSM3B", "setup:KQCM7FF", "clear:M", "setup:KQSM6E"}},
        {"MS-CAN",
         11,
         1,
         {{"*MSCAN", "1"}},
         false,
         {"setup:KQSP=", "setup:KQCM7FF", "clear:M", "setup:KQSP6"}},
        {"MS-CAN refused",
         3,
         1,
         {{"*MSCAN", "1"}},
         true,
         {"setup:KQSP=", "setup:KQSP6"},
         "1",
         "KQSP="},
        {"MS-CAN cleared",
         3,
         1,
         {{"*MSCAN", "1"}},
         true,
         {"setup:KQSP=", "setup:KQCM7FF", "clear:M", "setup:KQSP6"}},
        {"Toyota extended CAN",
         4,
         1,
         {{"isExtCAN", "1"}},
         true,
         {"setup:KQSH750", "setup:KQCF758", "setup:KQCD1", "setup:KQCM7FF", "clear:M"}},
        {"Toyota, not extended", 4, 1, {{"isExtCAN", "0"}}, true, {"setup:KQCM7FF", "clear:M"}},
        {"Honda DIAG-H",
         7,
         4,
         {{"wasReadOnDiagH", "1"}},
         false,
         {"setup:KQSP;", "setup:KQIF5", "send:KQSP5", "setup:KQH1", "clear:M on DIAG-H",
          "setup:KQSP5"},
         "4"},
        {"Honda K-line", 7, 4, {}, true, {"send:KQSP5", "setup:KQH1", "clear:M"}, "4"},
        {"Hyundai MUT",
         10,
         12,
         {},
         true,
         {"send:KQSP5", "send:KQSMC0", "send:KQX0", "send:KQSH8040F1", "send:KQIFP",
          "send:06 31 01 00 00 00 00", "clear:M", "send:06 31 02 00 00 00 00", "clear:M"},
         "12"},
        {"module read on its own pins",
         10,
         4,
         {{"RESPONSE_PIN_COMMAND", "70"}},
         true,
         {"send:KQSP5", "setup:KQX1", "setup:KQH1", "setup:KQSM70", "clear:M", "setup:KQSM6E"},
         "4"},
        {"its own pins refused",
         10,
         4,
         {{"RESPONSE_PIN_COMMAND", "70"}},
         true,
         {"send:KQSP5", "setup:KQX1", "setup:KQH1", "setup:KQSM70", "setup:KQSM6E"},
         "4",
         "KQSM70"},
        {"on the pins in force",
         10,
         4,
         {{"RESPONSE_PIN_COMMAND", "6E"}},
         true,
         {"send:KQSP5", "setup:KQX1", "setup:KQH1", "clear:M"},
         "4"},
        {"no module class", 2, 4, {}, true, {"send:KQSP5"}, "4"},
    };
    vehicle->script("06 31 01 00 00 00 00", {"80 F1 40 02 71 01 25\r>"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setMake(c.make);
        vehicle->highPin = 6;
        vehicle->lowPin = 14;
        auto& s = start(6);
        auto m = module("M", c.busType, c.extras);
        script->clears["M"] = c.clearResult;
        vehicle->refused = c.refused;
        const bool ok = s.clearModule(m, c.key);
        EXPECT_EQ(ok,
                  std::string(c.name) != "no module class" && c.clearResult && c.refused.empty());
        EXPECT_FALSE(QZEHondaKlineDiagnosticModule::DIAGH());
        Texts before;
        for (const auto& e : events()) {
            if (e.starts_with("sleep:")) break;
            before.push_back(e);
        }
        EXPECT_EQ(before, c.events);
        EXPECT_EQ(fakes.eventsOf("sleep:").front(), "sleep:5");  // the restore follows
    }
    vehicle->refused.clear();
    // Without the MUT acknowledgement the first clear is skipped.
    vehicle->script("06 31 01 00 00 00 00", {"7F 31 22\r>"});
    setMake(10);
    start(6).clearModule(module("M", "12"), 12);
    EXPECT_EQ(fakes.eventsOf("clear:").size(), 1u);
}

// The restore of the sensor: the order of the commands for each starting bus and state.
TEST_F(ModuleScannerTest, RestoresTheSensorInOrder) {
    struct Case {
        const char* name;
        int64_t make;
        int64_t startBus;
        std::vector<int64_t> keys;  // modules loaded before the restore
        bool newCommands;
        int refusals;  // "KQX0" refusals
        Texts events;
    };
    const Texts can11 = {"setup:KQSH7FF", "setup:KQCF7FF", "setup:3E", "setup:KQD"};
    const std::vector<Case> cases = {
        {"CAN 11-bit with a mask",
         3,
         6,
         {1},
         true,
         0,
         {"sleep:5", "setup:KQSP6", "setup:KQCM7F8", "setup:KQD", "setup:010D", "setup:KQSH7FF",
          "setup:KQCF7FF", "setup:3E", "setup:KQD"}},
        {"CAN 29-bit",
         2,
         7,
         {7},
         true,
         0,
         {"sleep:5", "setup:KQSP7", "setup:KQCMFFFFFF00", "setup:KQD", "setup:010D",
          "setup:KQSH1FFFFFFF", "setup:KQCF1FFFFFFF", "setup:3E", "setup:KQD"}},
        {"CAN 29-bit 250k without a mask",
         2,
         9,
         {},
         true,
         0,
         {"sleep:5", "setup:KQSP9", "setup:KQD", "setup:010D", "setup:KQSH1FFFFFFF",
          "setup:KQCF1FFFFFFF", "setup:3E", "setup:KQD"}},
        {"GM LAN bus 58: no protocol restore",
         1,
         58,
         {1},
         true,
         0,
         {"sleep:5", "setup:KQCM7F8", "setup:KQD", "setup:010D"}},
        {"GM CAN modules on VPW",
         1,
         2,
         {95},
         true,
         0,
         {"sleep:5", "setup:KQCM7F8", "setup:KQSP2", "setup:KQD", "setup:010D"}},
        {"Nissan CAN on K-line",
         6,
         3,
         {97},
         true,
         0,
         {"sleep:5", "setup:KQCM7F8", "setup:KQSP3", "setup:KQD", "setup:010D", "setup:KQX0"}},
        {"K-line reinitialised at once",
         7,
         5,
         {4},
         true,
         0,
         {"sleep:5", "setup:KQSP5", "setup:KQD", "setup:010D", "setup:KQX0"}},
        {"K-line never reinitialised",
         7,
         4,
         {},
         true,
         -1,
         {"sleep:5", "setup:KQSP4", "setup:KQD", "setup:010D", "setup:KQX0", "sleep:1",
          "setup:KQX0", "sleep:1", "setup:KQX0", "sleep:1"}},
        {"the old command set",
         3,
         6,
         {},
         false,
         0,
         {"sleep:5", "setup:ATSP6", "setup:ATD", "setup:010D", "setup:ATSH7FF", "setup:ATCF7FF",
          "setup:3E", "setup:ATD", "setup:ATX0", "setup:ATL0", "setup:ATE0", "setup:ATH0",
          "setup:ATRP0", "setup:ATX0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setMake(c.make);
        fakes.settings->newCommandSet = c.newCommands;
        vehicle->script(c.newCommands ? "KQDP" : "ATDP", {std::to_string(c.startBus) + "\r>"});
        TestModuleScanner s(script, fakes.events);
        s.prepareForClear();
        for (auto key : c.keys) s.loadModule(key, 1);
        clearEvents();
        vehicle->refuseSetups(c.refusals);
        s.exitScanMode();
        vehicle->refuseSetups(0);
        EXPECT_EQ(events(), c.events);
    }
    // No starting bus: nothing bus-specific.
    fakes.settings->newCommandSet = true;
    vehicle->script("KQDP", {"NO DATA\r>"});
    TestModuleScanner s(script, fakes.events);
    EXPECT_FALSE(s.prepareForClear());
    clearEvents();
    s.exitScanMode();
    EXPECT_EQ(events(), (Texts{"sleep:5", "setup:KQD", "setup:010D"}));
}

}  // namespace
}  // namespace qz::scanningtest
