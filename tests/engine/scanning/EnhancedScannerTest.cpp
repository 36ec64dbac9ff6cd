#include <condition_variable>
#include <thread>

#include "engine/scanning/ScanningFakes.hpp"

namespace qz::scanningtest {
namespace {

using Lists = std::vector<std::pair<std::string, std::vector<QZEModuleDataPtr>>>;

// A stepping clock that calls a hook after each sleep of the given length.
class HookClock : public SteppingClock {
  public:
    using SteppingClock::SteppingClock;
    void sleepFor(double seconds) override {
        SteppingClock::sleepFor(seconds);
        if (seconds == length && hook) hook(++count);
    }
    double length = 1.0;
    int count = 0;
    std::function<void(int)> hook;
};

class EnhancedScannerTest : public ScanningTest {
  protected:
    EnhancedScannerTest() { vehicle->script("KQDP", {"6\r\r>"}); }

    // A loaded scan whose module lists are replaced by the given ones.
    std::unique_ptr<TestEnhancedScanner> loaded(const Lists& lists, int64_t scanType = 1) {
        auto scan = std::make_unique<TestEnhancedScanner>(script, fakes.events);
        scan->setDelegate(delegate);
        scan->loadScan(scanType);
        auto& dictionary = scan->moduleScanner()->moduleDictionary();
        dictionary.removeAllObjects();
        for (const auto& [key, modules] : lists) dictionary.setObject(modules, key);
        clearEvents();
        return scan;
    }
    // The sensor and module traffic of the scan, up to the sensor restore.
    Texts traffic() const {
        Texts out;
        for (const auto& e : events()) {
            if (e == "sleep:5") break;
            if (!e.starts_with("sleep:")) out.push_back(e);
        }
        return out;
    }
    bool restored() const {
        auto all = events();
        return std::find(all.begin(), all.end(), "sleep:5") != all.end();
    }

    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
};

TEST_F(EnhancedScannerTest, CountsTheExpectedModuleReads) {
    struct Case {
        int64_t make;
        int64_t firmware;
        std::vector<std::pair<std::string, int>> buses;
        int32_t total;
    };
    const std::vector<Case> cases = {
        {10, 405, {{"1", 3}, {"4", 2}, {"12", 1}}, 12},  // four Hyundai pins
        {10, 399, {{"4", 2}, {"99", 1}}, 3},
        {5, 400, {{"1", 2}, {"4", 3}, {"99", 1}}, 10},  // two BMW pins
        {5, 399, {{"1", 2}, {"4", 3}, {"99", 1}}, 6},
        {3, 401, {{"1", 3}, {"2", 2}}, 8},  // high-speed CAN read twice
        {11, 401, {{"1", 3}}, 6},
        {3, 400, {{"1", 3}, {"2", 2}}, 5},
        {7, 402, {{"4", 3}}, 8},
        {7, 402, {{"1", 2}, {"4", 3}}, 5},
        {7, 401, {{"4", 3}}, 3},
        {9, 405, {{"1", 2}, {"4", 3}, {"96", 1}, {"99", 1}}, 27},  // five Mercedes pins
        {9, 404, {{"1", 2}, {"4", 3}, {"96", 1}}, 6},
        {2, 410, {{"7", 2}, {"10", 1}}, 3},
    };
    for (const auto& c : cases) {
        setMake(c.make);
        fakes.settings->version = c.firmware;
        QZEModuleListsByBus lists;
        for (const auto& [key, n] : c.buses)
            lists.setObject(std::vector<QZEModuleDataPtr>(n, module("M", key)), key);
        EXPECT_EQ(QZEnhancedScanner::countModulesForScan(lists), c.total)
            << "make " << c.make << " firmware " << c.firmware;
    }
}

// Loading, a failed set-up, and a scan that was never loaded; the generic loop with its
// duplicate rule, through the loader's module lists.
TEST_F(EnhancedScannerTest, TheGenericLoopReportsEveryModuleAndMergesDuplicates) {
    setMake(2);
    fakes.settings->version = 408;
    vehicle->protocolText = "CAN29_500";
    writeResource("enhanceddiag/Chrysler_29CAN.xml", R"(<m>
        <module Acronym="A" Description="Engine" Request_ID="7E0" Response_ID="7E8" bus29bit="1"/>
        <module Acronym="B" Description="Body" Request_ID="740" Response_ID="748" bus29bit="1"/>
        <module Acronym="A" Description="Engine again" Request_ID="7E0" Response_ID="7E8" bus29bit="1"/>
      </m>)");
    script->reads["A"] = {{3, {"P0100"}, {"PENDING"}, {"Air flow"}},
                          {3, {"P0100", "P0200"}, {"PENDING", "STORED"}, {"Air flow", "Injector"}}};
    script->reads["B"] = {{3}};

    TestEnhancedScanner check(script, fakes.events);
    EXPECT_EQ(check.loadScan(0), 2);

    TestEnhancedScanner scan(script, fakes.events);
    scan.setDelegate(delegate);
    EXPECT_EQ(scan.loadScan(1), 8);  // 2 + buses 7 and 10 (bus 11 lists no module)
    EXPECT_EQ(scan.moduleScanner()->moduleDictionary().allKeys(), (Texts{"7", "10", "11"}));
    clearEvents();
    scan.startScan(1);
    EXPECT_EQ(traffic(), (Texts{"setup:KQCM1FFFFFFF", "read:A", "read:B", "read:A", "send:KQSP<",
                                "read:A", "read:B", "read:A"}));
    EXPECT_TRUE(restored());
    // Every module reaches the delegate on the main queue, in order.
    const auto onMain = delegate->onMainQueue();
    EXPECT_EQ(onMain, std::vector<bool>(6, true));
    const auto reported = delegate->modules();
    EXPECT_EQ(delegate->acronyms(), (Texts{"A", "B", "A", "A", "B", "A"}));
    // The first A of bus 7 took the second's new code.
    EXPECT_EQ(reported[0]->codeList(), (Texts{"P0100", "P0200"}));
    EXPECT_EQ(reported[0]->statusList(), (Texts{"PENDING", "STORED"}));
    EXPECT_EQ(reported[0]->definitionList(), (Texts{"Air flow", "Injector"}));
    EXPECT_EQ(reported[2]->codeList(), (Texts{"P0100", "P0200"}));
    const auto progress = fakes.logger->linesStartingWith("I:Scanning module 1 of");
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress[0], "I:Scanning module 1 of 8, progress 0.125000");

    // A failed set-up; a scan that was never loaded.
    vehicle->script("KQDP", {"NO DATA\r>"});
    TestEnhancedScanner failed(script, fakes.events);
    fakes.logger->clear();
    EXPECT_EQ(failed.loadScan(1), 0);
    EXPECT_EQ(fakes.logger->linesStartingWith("E:"), Texts{"E:Scanner setup failed"});
    TestEnhancedScanner unloaded(script, fakes.events);
    clearEvents();
    unloaded.startScan(1);
    EXPECT_TRUE(events().empty());
    EXPECT_EQ(fakes.logger->linesStartingWith("E:'loadScan'").size(), 1u);
}

// Each make's strategy: the sensor commands and module reads in order, and the modules reported
// (on the main queue).
TEST_F(EnhancedScannerTest, EachMakesStrategyReadsItsBuses) {
    struct Case {
        const char* name;
        int64_t make;
        int64_t firmware;
        std::string vin;
        Lists lists;
        std::map<std::string, std::deque<Read>> reads;
        Texts traffic;
        Texts reported;
        std::string refused = {};  // a switch the sensor refuses: the scan fails after it
    };
    const Read codes{3, {"P0100"}, {"STORED"}};
    const std::string vin2009 = "1FAHP3F269L123456";  // tenth character 9
    const std::string vin2015 = "1FAHP3F21FL123456";
    const std::string vin2015Listed = "1FAHP3K24FL123456";
    writeResource("enhanceddiag/ms_vin_mappings.json", R"({"F": ["P3K"]})");
    const std::vector<Case> cases = {
        {"GM with GM LAN",
         1,
         407,
         "",
         {{"1", {module("E", "1")}}, {"58", {module("L", "58")}}},
         {},
         {"setup:KQCM7FF", "setup:KQX1", "setup:KQH1", "read:E", "setup:KQSP:", "read:L"},
         {"E", "L"}},
        {"GM without GM LAN",
         1,
         406,
         "",
         {{"1", {module("E", "1")}}, {"58", {module("L", "58")}}},
         {},
         {"setup:KQCM7FF", "setup:KQX1", "setup:KQH1", "read:E"},
         {"E"}},
        {"Ford of 2009: medium-speed CAN",
         3,
         401,
         vin2009,
         {{"1", {module("P", "1"), module("Q", "1")}}},
         {{"P", {codes}}},
         {"setup:KQCM7FF", "read:P", "read:Q", "setup:KQSP=", "read:P", "read:Q", "setup:KQSP6"},
         {"P", "Q", "P*MSCAN", "Q"}},
        {"Ford of 2015 listed for MS-CAN",
         3,
         407,
         vin2015Listed,
         {{"1", {module("P", "1")}}},
         {{"P", {codes}}},
         {"setup:KQCM7FF", "read:P", "setup:KQSP=", "read:P", "setup:KQSP6"},
         {"P", "P*MSCAN"}},
        {"Ford of 2015: high-speed CAN on pins 3 and 11",
         3,
         406,
         vin2015,
         {{"1", {module("P", "1")}}},
         {{"P", {codes}}},
         {"setup:KQCM7FF", "read:P", "setup:KQSM3B", "read:P", "setup:KQSM6E", "setup:KQSP6"},
         {"P", "P*HSCAN"}},
        {"Ford of 2015, older firmware",
         3,
         405,
         vin2015,
         {{"1", {module("P", "1")}}},
         {{"P", {codes}}},
         {"setup:KQCM7FF", "read:P", "setup:KQSM6E", "setup:KQSP6"},
         {"P"}},
        {"Mazda below 401 with PWM",
         11,
         400,
         "",
         {{"1", {module("P", "1")}}, {"2", {module("W", "2")}}},
         {},
         {"setup:KQCM7FF", "read:P", "setup:KQX1", "setup:KQSP1", "read:W"},
         {"P", "W"}},
        {"Toyota with extended CAN",
         4,
         403,
         "",
         {{"1", {module("X", "1", {{"isExtCAN", "1"}}), module("T", "1")}}},
         {},
         {"setup:KQCM7FF", "read:T", "setup:KQSH750", "setup:KQCF758", "setup:KQCD1", "read:X"},
         {"T", "X"}},
        {"Toyota, old firmware with extended CAN",
         4,
         399,
         "",
         {{"1", {module("X", "1", {{"isExtCAN", "1"}}), module("T", "1")}}},
         {},
         {"setup:KQCM7FF", "read:T", "setup:KQSH750", "setup:KQCF758", "setup:KQCD1", "read:X"},
         {"T", "X"}},
        {"Toyota, the extended CAN header refused",
         4,
         403,
         "",
         {{"1", {module("X", "1", {{"isExtCAN", "1"}}), module("T", "1")}}},
         {},
         {"setup:KQCM7FF", "read:T", "setup:KQSH750"},
         {"T"},
         "KQSH750"},
        {"Toyota without extended CAN",
         4,
         400,
         "",
         {{"1", {module("X", "1", {{"isExtCAN", "1"}}), module("T", "1")}}},
         {},
         {"setup:KQCM7FF", "read:T"},
         {"T"}},
        {"Honda with DIAG-H",
         7,
         406,
         "",
         {{"4",
           {module("H", "4", {{"isDIAGH", "1"}}),
            module("O", "4", {{"isDIAGH", "1"}, {"isDIAGHOnly", "1"}}), module("K", "4")}}},
         {{"H", {codes}}},
         {"send:KQSP5", "setup:KQH1", "read:H", "read:K", "setup:KQSP;", "setup:KQIF5",
          "read:H on DIAG-H", "read:O on DIAG-H", "setup:KQSP5"},
         {"H", "K", "H*DIAGH", "O"}},
        {"Honda, DIAG-H refused",
         7,
         406,
         "",
         {{"4", {module("H", "4", {{"isDIAGH", "1"}}), module("K", "4")}}},
         {},
         {"send:KQSP5", "setup:KQH1", "read:H", "read:K", "setup:KQSP;", "setup:KQSP5"},
         {"H", "K"},
         "KQSP;"},
        {"Honda with CAN: no DIAG-H",
         7,
         406,
         "",
         {{"1", {module("C", "1")}}, {"4", {module("H", "4", {{"isDIAGH", "1"}})}}},
         {},
         {"setup:KQCM1FFFFFFF", "read:C", "send:KQSP5", "setup:KQH1", "read:H"},
         {"C", "H"}},
        {"Hyundai on four pins and MUT",
         10,
         405,
         "",
         {{"4", {module("Y", "4")}}, {"12", {module("M", "12")}}},
         {{"Y", {{1}, {3, {"P0500"}, {"STORED"}, {}, "C0"}, {1}}}},
         {"setup:KQSP5", "setup:KQSM80", "setup:KQX1", "setup:KQH1", "read:Y", "setup:KQSMC0",
          "read:Y", "setup:KQSMD0", "read:Y", "setup:KQSM70", "read:Y", "send:KQSP5", "send:KQSMC0",
          "send:KQX0", "send:KQSH8040F1", "read:M"},
         {"Y", "Y-C0", "Y", "Y", "M"}},
        {"Hyundai, the MUT header refused",
         10,
         405,
         "",
         {{"12", {module("M", "12")}}},
         {},
         {"send:KQSP5", "send:KQSMC0", "send:KQX0", "send:KQSH8040F1"},
         {},
         "KQSH8040F1"},
        {"Mercedes on five pins",
         9,
         405,
         "",
         {{"1", {module("C", "1")}}, {"4", {module("K", "4")}}},
         {},
         {"setup:KQCM7FF", "read:C", "send:KQSP5", "setup:KQSMD0", "setup:KQX1", "setup:KQH1",
          "read:K", "setup:KQSMC0", "read:K", "setup:KQSMB0", "read:K", "setup:KQSM90", "read:K",
          "setup:KQSM70", "read:K"},
         {"C", "K", "K", "K", "K", "K"}},
        {"Mercedes, older firmware",
         9,
         404,
         "",
         {{"4", {module("K", "4")}}},
         {},
         {"send:KQSP5", "setup:KQX1", "setup:KQH1", "read:K"},
         {"K"}},
        {"BMW K-line on two pins, after the key flick",
         5,
         400,
         "",
         {{"99", {module("A", "99")}}, {"4", {module("K", "4")}}},
         {},
         {"setup:KQSM70", "send:KQSP5", "read:K", "setup:KQSM80", "read:K", "setup:KQSM70",
          "read:A", "setup:KQSM80", "read:A"},
         {"K", "K", "A", "A"}},
        {"BMW K-line without pin switching",
         5,
         399,
         "",
         {{"4", {module("K", "4")}}, {"99", {module("A", "99")}}},
         {},
         {"send:KQSP5", "read:K", "read:A"},
         {"K", "A"}},
    };
    delegate->onInteraction = [] {
        // The key flick is done at once.
        NotificationCenter::defaultCenter().post("KeyFlickDone");
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setMake(c.make);
        fakes.settings->version = c.firmware;
        setVin(c.vin);
        script->reads = c.reads;
        vehicle->refused = c.refused;
        auto scan = loaded(c.lists);
        auto token = NotificationCenter::defaultCenter().addObserver(
            "KeyFlickDone", [&](const Notification&) { scan->interactionComplete(); });
        auto before = delegate->modules().size();
        // The main queue held until the generic read is done: every module still comes in the
        // order read, "OBD" last.
        std::mutex held;
        std::condition_variable changed;
        bool release = false;
        DispatchQueue::main()->async([&] {
            std::unique_lock lock(held);
            changed.wait(lock, [&] { return release; });
        });
        scan->startScan(1);
        NotificationCenter::defaultCenter().removeObserver(token);
        EXPECT_EQ(traffic(), c.traffic);
        EXPECT_TRUE(restored());
        EXPECT_EQ(scan->scanErrorDuringScan(), !c.refused.empty());
        scan->startBasicObdScan(false);
        {
            std::lock_guard lock(held);
            release = true;
        }
        changed.notify_all();
        auto reported = delegate->modules();
        Texts acronyms;
        for (size_t i = before; i < reported.size(); ++i)
            acronyms.push_back(reported[i]->accronym().value_or(""));
        Texts expected = c.reported;
        expected.push_back("OBD");
        EXPECT_EQ(acronyms, expected);
        auto onMain = delegate->onMainQueue();
        EXPECT_EQ(std::count(onMain.begin() + static_cast<long>(before), onMain.end(), true),
                  static_cast<long>(expected.size()));
        EXPECT_EQ(delegate->messages().size(), c.make == 5 ? 1u : 0u);
        delegate = std::make_shared<RecordingDelegate>();
        delegate->onInteraction = [] { NotificationCenter::defaultCenter().post("KeyFlickDone"); };
    }
}

// A module read again (on other pins or another bus) is reported as a new record; what was
// reported first is not changed by later reads, and marks go only to the later record.
TEST_F(EnhancedScannerTest, ReportedModulesStayAsTheyWereReported) {
    setMake(7);
    fakes.settings->version = 406;
    auto honda = module("H", "4", {{"isDIAGH", "1"}});
    script->reads["H"] = {{3, {"P1000"}, {"STORED"}}, {3, {"P2000"}, {"STORED"}}};
    auto scan = loaded({{"4", {honda}}});
    scan->startScan(1);
    const auto reported = delegate->modules();
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_EQ(reported[0], honda);
    EXPECT_EQ(honda->codeList(), Texts{"P1000"});
    EXPECT_FALSE(honda->extraFlag("wasReadOnDiagH"));
    EXPECT_NE(reported[1], honda);
    EXPECT_EQ(reported[1]->codeList(), Texts{"P2000"});
    EXPECT_TRUE(reported[1]->extraFlag("wasReadOnDiagH"));
    EXPECT_EQ(reported[0]->accronym(), "H");
    EXPECT_EQ(reported[1]->accronym(), "H*DIAGH") << "the second reading named by its line";

    // Pin reads never change the listed record; a stale pin mark does not carry over.
    setMake(10);
    fakes.settings->version = 405;
    auto hyundai = module("Y", "4");
    script->reads["Y"] = {{3, {"P0500"}, {"STORED"}, {}, "80"}, {1}};
    delegate = std::make_shared<RecordingDelegate>();
    auto pins = loaded({{"4", {hyundai}}});
    pins->startScan(1);
    EXPECT_EQ(delegate->acronyms(), (Texts{"Y-80", "Y", "Y", "Y"}));
    EXPECT_EQ(hyundai->accronym(), "Y");
    EXPECT_TRUE(hyundai->extra("RESPONSE_PIN_COMMAND").isNull());
    EXPECT_TRUE(delegate->modules()[1]->extra("RESPONSE_PIN_COMMAND").isNull());
    EXPECT_EQ(delegate->modules()[0]->extra("RESPONSE_PIN_COMMAND").text(), "80");

    // A record the receiver changes on the main queue is read again as it was handed over: the
    // second read starts from a copy taken before delivery, not from the record in use.
    setMake(3);
    fakes.settings->version = 401;
    setVin("1FAHP3F269L123456");
    script->reads["P"] = {{3, {"P0100"}, {"STORED"}}};
    delegate = std::make_shared<RecordingDelegate>();
    delegate->onModule = [](const QZEModuleDataPtr& m) {
        m->setResponseState(ResponseStateNoData);
        m->setDescription(std::string("changed by the receiver"));
    };
    vehicle->onSetup = [](const std::string& cmd) {
        if (cmd == "KQSP=") DispatchQueue::main()->sync([] {});
    };
    auto ford = module("P", "1");
    auto twice = loaded({{"1", {ford}}});
    fakes.logger->clear();
    twice->startScan(1);
    vehicle->onSetup = nullptr;
    ASSERT_EQ(delegate->acronyms(), (Texts{"P", "P*MSCAN"}));
    EXPECT_EQ(delegate->modules()[0], ford);
    EXPECT_EQ(ford->accronym(), "P");
    EXPECT_FALSE(ford->extraFlag("*MSCAN"));
    // The second read names the module as listed, not as the receiver changed it.
    auto found = fakes.logger->linesStartingWith("V:Found codes 1 codes for module: ");
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[1], "V:Found codes 1 codes for module: P module");
}

// BMW code texts come from the table of the module as listed, also for a module that answered on
// its own pins and is named by them.
TEST_F(EnhancedScannerTest, BmwCodeTextsUseTheListedAcronym) {
    writeResource("enhanceddiag/bmw-modules.xml", R"(<bmw>
        <chassis code="F30" vins="3A5C">
          <module Acronym="DME" Description="Engine" Request_ID="12">
            <tc><c>2A82</c><d>Camshaft control</d></tc>
          </module>
        </chassis></bmw>)");
    setMake(5);
    fakes.settings->version = 400;
    setVin("WBA3A5C50DF123456");
    script->reads["BMW3A5CDME"] = {{3, {"2A82"}, {"STORED"}, {}, "70"}, {1}};
    auto scan = loaded({{"4", {module("BMW3A5CDME", "4")}}});
    delegate->onInteraction = [&] { scan->interactionComplete(); };
    scan->startScan(1);
    const auto reported = delegate->modules();
    ASSERT_EQ(delegate->acronyms(), (Texts{"BMW3A5CDME-70", "BMW3A5CDME"}));
    EXPECT_EQ(reported[0]->definitionList(), Texts{"Camshaft control"});
}

// A GM LAN module with codes is marked so that its clear selects single-wire CAN again.
TEST_F(EnhancedScannerTest, GmLanModulesAreClearedOverGmLan) {
    setMake(1);
    fakes.settings->version = 407;
    script->reads["L"] = {{3, {"B1000"}, {"STORED"}}};
    auto scan = loaded({{"58", {module("L", "58"), module("N", "58")}}});
    scan->startScan(1);
    const auto reported = delegate->modules();
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_TRUE(reported[0]->extraFlag("*GM_LAN"));
    EXPECT_FALSE(reported[1]->extraFlag("*GM_LAN"));

    TestModuleScanner clearing(script, fakes.events);
    clearing.prepareForClear();
    clearEvents();
    EXPECT_TRUE(clearing.clearModule(reported[0], 58));
    EXPECT_EQ(traffic(), (Texts{"setup:KQSP:", "setup:KQCM7FF", "setup:KQH1", "clear:L"}));
}

// "DeviceDisconnected" or "DeviceTimedOut" ends the scan before the next module; the sensor is
// still restored. So does the link seen closed right after a read, even when it is open again
// by the end ("").
TEST_F(EnhancedScannerTest, ALostLinkEndsTheScanAtTheNextModule) {
    for (int64_t make : {2, 3}) {
        for (const std::string name : {"DeviceDisconnected", "DeviceTimedOut", ""}) {
            SCOPED_TRACE(name + " make " + std::to_string(make));
            setMake(make);
            fakes.settings->version = 406;
            script->onRead = [&](const std::string& acronym) {
                if (acronym != "B") return;
                if (name.empty())
                    vehicle->looksBeforeClosing = 1;  // the read's own look sees it open
                else
                    NotificationCenter::defaultCenter().post(name);
            };
            auto scan = loaded({{"1", {module("A", "1"), module("B", "1"), module("C", "1")}},
                                {"3", {module("D", "3")}}});
            scan->startScan(1);
            script->onRead = nullptr;
            EXPECT_TRUE(scan->scanErrorDuringScan());
            EXPECT_EQ(fakes.eventsOf("read:"), (Texts{"read:A", "read:B"}));
            EXPECT_TRUE(fakes.eventsOf("setup:KQSM").empty());
            EXPECT_TRUE(restored());
        }
    }
}

// The BMW key flick: polled each second until the user is done, or until the link goes.
TEST_F(EnhancedScannerTest, TheKeyFlickWaitsForTheUserOrTheLink) {
    auto hook = std::make_shared<HookClock>(fakes.events);
    ScopedClock clock(hook);
    setMake(5);
    fakes.settings->version = 400;
    int completions = 0;
    auto token = NotificationCenter::defaultCenter().addObserver(
        "PelkInteractionComplete", [&](const Notification&) { ++completions; });

    auto scan = loaded({{"4", {module("K", "4")}}});
    hook->hook = [&](int n) {
        EXPECT_TRUE(scan->awaitingInteraction());
        if (n == 3) scan->interactionComplete();
    };
    scan->startScan(1);
    EXPECT_EQ(delegate->messages(), Texts{"A Keyflick is required before this scan."});
    EXPECT_EQ(hook->count, 3);
    EXPECT_EQ(completions, 1);
    EXPECT_FALSE(scan->awaitingInteraction());
    EXPECT_EQ(fakes.eventsOf("read:").size(), 2u);

    // The link drops during the wait: the wait ends, nothing is read.
    hook->count = 0;
    auto lost = loaded({{"4", {module("K", "4")}}});
    hook->hook = [&](int n) {
        if (n == 2) NotificationCenter::defaultCenter().post("DeviceTimedOut");
    };
    lost->startScan(1);
    EXPECT_EQ(hook->count, 2);
    EXPECT_TRUE(fakes.eventsOf("read:").empty());
    EXPECT_TRUE(restored());
    NotificationCenter::defaultCenter().removeObserver(token);

    // Other makes never ask.
    setMake(4);
    hook->count = 0;
    loaded({{"1", {module("T", "1")}}})->startScan(1);
    EXPECT_EQ(hook->count, 0);
    EXPECT_EQ(delegate->messages().size(), 2u);
}

TEST_F(EnhancedScannerTest, PinPairReadsAndFilters) {
    setMake(10);
    auto scan = loaded({});
    auto& scanner = *scan->moduleScanner();
    const QZEModuleArray modules = {module("Y", "4")};
    auto bad = scan->scanModules(modules, "4", {7, 8}, std::vector<int64_t>{0}, scanner);
    ASSERT_FALSE(bad.has_value());
    EXPECT_EQ(bad.error().name, "Invalid Low Pins");
    EXPECT_EQ(bad.error().reason,
              "Invalid number of low pins for high pins - must be 1:1 or low pins should be nil");
    EXPECT_TRUE(events().empty());

    ASSERT_TRUE(scan->scanModules(modules, "4", {7}, std::nullopt, scanner).has_value());
    ASSERT_TRUE(scan->scanModules(modules, "4", {6}, std::vector<int64_t>{14}, scanner));
    EXPECT_EQ(fakes.eventsOf("setup:KQSM"), (Texts{"setup:KQSM70", "setup:KQSM6E"}));
    EXPECT_EQ(scanner.getHighPin(), 6);
    EXPECT_EQ(scanner.getLowPin(), 14);

    const QZEModuleArray mixed = {module("A", "1", {{"isExtCAN", "1"}}), module("B", "1"),
                                  module("C", "1", {{"isExtCAN", "0"}}),
                                  module("D", "1", {{"isDIAGH", "1"}, {"isDIAGHOnly", "1"}})};
    auto names = [](const QZEModuleArray& list) {
        Texts out;
        for (const auto& m : list) out.push_back(m->accronym().value_or(""));
        return out;
    };
    EXPECT_EQ(names(QZEnhancedScanner::filterExtendedCANModules(mixed, true)),
              (Texts{"B", "C", "D"}));
    EXPECT_EQ(names(QZEnhancedScanner::filterExtendedCANModules(mixed, false)), Texts{"A"});
    EXPECT_EQ(names(QZEnhancedScanner::filterHondaDIAGHModules(mixed, false)), Texts{"D"});
    EXPECT_EQ(names(QZEnhancedScanner::filterHondaDIAGHOnlyModules(mixed, true)),
              (Texts{"A", "B", "C"}));
}

}  // namespace
}  // namespace qz::scanningtest
