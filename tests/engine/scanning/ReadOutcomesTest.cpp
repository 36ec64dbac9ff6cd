// What a scan may conclude from its reads: the generic code read that got no code list, the
// duplicate rule of the generic bus loop, and module lists that could not be read.

#include "engine/scanning/ScanningFakes.hpp"

namespace qz::scanningtest {
namespace {

class ReadOutcomesTest : public ScanningTest {
  protected:
    ReadOutcomesTest() { vehicle->script("KQDP", {"6\r\r>"}); }

    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
};

// A generic code command fails only when the request failed or the sensor refused it or named an
// error; anything else is read for its codes (headers, byte counts, "SEARCHING..." and an empty
// reply hold none).
TEST_F(ReadOutcomesTest, AGenericCodeCommandFailsOnlyOnTheSensorsRefusalOrErrorWords) {
    struct Case {
        OptionalText reply;
        bool answered;
        QZEDisplayForm display = {};  // the form told
    };
    const QZEDisplayForm headers{true, 3};
    const std::vector<Case> cases = {
        {"P0420\rP0101\r\r>", true},
        {"NO DATA\r>", true},
        {"KQTC\rNO DATA\r>", true},  // echoed
        {"kqtc\rP0420\r>", true},
        {"P0000\r>", true},  // the filler is no code, but a list
        {std::nullopt, false},
        {"NO DATA/r>", false},  // what the vehicle adapter answers for a failed exchange
        {"", true},
        {"\r>", true},
        {"?\r>", false},
        {"CAN ERROR\r\r>", false},
        {"BUS INIT: ...ERROR\r\r>", false},
        {"P0420\rSTOPPED\r>", false},
        {"P04 20\r>", false},      // a code cut in two
        {"P0420\rP01\r>", false},  // the last code cut short
        {"P04#0\rP0101\r>", false},
        {"P0420\rX\r>", false},
        {"7F 03 22\r>", false},  // the vehicle's refusal
        {"7F 03\r>", false},
        {"7E8 03 7F 03 22\r>", false},
        {"7F\r>", false},
        {"43 01 33 00 00\r>", true},  // bytes: a header or byte counts
        {"NO DATA\rP0420\r>", true},
        {"KQTCP\rP0420\r>", true},  // another command's echo
        {"7E8 P0420\r>", true},
        {"02\rP0420\rP0171\r>", true},
        {"SEARCHING...\rP0420\r>", true},
        {"U0100-87\rP0420\r>", true},
        {"U0100-8\rP0420\r>", false},  // a failure-type byte cut short
        {"P0420-\rP0101\r>", false},
        {"SEARCHING...\rUNABLE TO CONNECT\r>", false},
        {"UNABLETO CONNECT\r>", false},
        {"CANERROR\r>", false},
        {"P0420 <RX ERROR\r>", false},
        // A code that lost its letter is no header.
        {"P0101 0420\r>", false},
        {"P0101\r0420\r>", false},
        {"P0101\r420\r>", false},
        {"420\r>", false},
        // A unit's answer printed without blanks is read in the form told: bytes with headers
        // shown, a byte cut in half without.
        {"7E80143\r>", true, headers},
        {"7E80143\r>", false},
        {"7E8037F0322\r>", false, headers},
        {"7E8037F0378\r>", false, headers},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QZEnhancedScanner::isCodeListAnswer(c.reply, c.display), c.answered)
            << c.reply.value_or("(none)");
}

// A failed request makes the scan's error; the codes other requests read are still reported,
// but an empty module never is.
TEST_F(ReadOutcomesTest, AGenericReadThatFailsEndsInTheScansError) {
    struct Case {
        const char* name;
        bool separate;
        bool permanent;
        std::string stored, pending, permanentReply;
        bool failed;
        std::vector<std::pair<std::string, Texts>> modules;  // description, codes
        const char* bus = "6";                               // the sensor's answer to "KQDP"
    };
    const std::vector<Case> cases = {
        {"all answered",
         false,
         true,
         "P0420\r>",
         "NO DATA\r>",
         "NO DATA\r>",
         false,
         {{"Emissions", {"P0420"}}}},
        {"no codes at all",
         false,
         true,
         "NO DATA\r>",
         "NO DATA\r>",
         "NO DATA\r>",
         false,
         {{"Emissions", {}}}},
        {"stored codes lost",
         false,
         true,
         "NO DATA/r>",
         "P0171\r>",
         "P0300\r>",
         true,
         {{"Emissions", {"P0171", "P0300"}}}},
        {"nothing read", false, true, "?\r>", "CAN ERROR\r>", "NO DATA/r>", true, {}},
        // The whole codes of a damaged list are kept, never those of a flagged frame.
        {"a damaged list",
         false,
         true,
         "P0101 <RX ERROR\rP04#0\rP0420\r>",
         "P0171\r>",
         "NO DATA\r>",
         true,
         {{"Emissions", {"P0420", "P0171"}}}},
        {"nothing read but no codes",
         false,
         true,
         "NO DATA\r>",
         "STOPPED\r>",
         "NO DATA\r>",
         true,
         {}},
        {"permanent codes not wanted",
         false,
         false,
         "P0420\r>",
         "NO DATA\r>",
         "?\r>",
         false,
         {{"Emissions", {"P0420"}}}},
        {"separate: the failed kind is left out",
         true,
         true,
         "P0420\r>",
         "?\r>",
         "NO DATA\r>",
         true,
         {{"Confirmed", {"P0420"}}, {"Permanent", {}}}},
        // No vehicle bus: "NO DATA" says nothing of codes; codes read are still codes.
        {"no vehicle", false, true, "NO DATA\r>", "NO DATA\r>", "NO DATA\r>", true, {}, "0"},
        {"no vehicle, separate", true, true, "NO DATA\r>", "\r>", "NO DATA\r>", true, {}, "0"},
        {"no vehicle, a code read",
         false,
         true,
         "NO DATA\r>",
         "P0171\r>",
         "NO DATA\r>",
         false,
         {{"Emissions", {"P0171"}}},
         "0"},
        {"no vehicle, separate, a code read",
         true,
         false,
         "P0420\r>",
         "NO DATA\r>",
         "NO DATA\r>",
         false,
         {{"Confirmed", {"P0420"}}, {"Pending", {}}},
         "0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        vehicle->script("KQTC", {c.stored});
        vehicle->script("KQTCP", {c.pending});
        vehicle->script("KQTCA", {c.permanentReply});
        vehicle->script("KQDP", {std::string(c.bus) + "\r\r>"});
        delegate = std::make_shared<RecordingDelegate>();
        QZEnhancedScanner scan;
        ASSERT_EQ(scan.loadScan(QZEnhancedScanner::kCheckEngineScan), 2);
        scan.setDelegate(delegate);
        scan.setUseSeperateEmissionsModules(c.separate);
        fakes.logger->clear();
        scan.startBasicObdScan(c.permanent);
        EXPECT_EQ(scan.scanErrorDuringScan(), c.failed);
        const bool noVehicle = c.failed && std::string(c.bus) == "0";
        EXPECT_EQ(fakes.logger->linesStartingWith("E:Generic code read failed").empty(),
                  !c.failed || noVehicle);
        EXPECT_EQ(fakes.logger->linesStartingWith("E:No vehicle bus").size(), noVehicle ? 1u : 0u);
        std::vector<std::pair<std::string, Texts>> reported;
        for (const auto& m : delegate->modules())
            reported.emplace_back(m->description().value_or(""), m->codeList().value_or(Texts{}));
        EXPECT_EQ(reported, c.modules);
    }
    vehicle->script("KQTC", {"?\r>"});
    vehicle->script("KQTCP", {"NO DATA\r>"});
    fakes.logger->clear();
    QZEnhancedScanner scan;
    scan.startBasicObdScan(true);
    EXPECT_EQ(fakes.logger->linesStartingWith("E:"),
              Texts{"E:Generic code read failed: KQTC answered ?\r>"});
}

// Modules of one bus with the same acronym and request id are one module only when their
// response ids agree too.
TEST_F(ReadOutcomesTest, TheGenericLoopKeepsAModuleOfAnotherResponseIdApart) {
    setMake(2);
    fakes.settings->version = 408;
    vehicle->script("KQDP", {"7\r\r>"});
    auto a = [](const char* response) {
        auto m = module("A", "7");
        m->setResponseId(response);
        return m;
    };
    script->reads["A"] = {{3, {"P0100"}, {"PENDING"}},
                          {3, {"P0300"}, {"STORED"}},
                          {3, {"P0100", "P0200"}, {"PENDING", "STORED"}}};
    TestEnhancedScanner scan(script, fakes.events);
    scan.setDelegate(delegate);
    ASSERT_GT(scan.loadScan(1), 0);
    auto& lists = scan.moduleScanner()->moduleDictionary();
    lists.removeAllObjects();
    lists.setObject({a("7E8"), a("7E9"), a("7E8")}, "7");
    scan.startScan(1);
    const auto reported = delegate->modules();
    ASSERT_EQ(reported.size(), 3u);
    EXPECT_EQ(reported[0]->codeList(), (Texts{"P0100", "P0200"}));  // took its duplicate's code
    EXPECT_EQ(reported[1]->codeList(), Texts{"P0300"});
    EXPECT_EQ(reported[1]->responseId(), "7E9");
}

// A module list the make has that is missing, does not decrypt, does not parse in full or holds
// no module stops a module scan before it sends anything; a check-engine scan needs no list.
TEST_F(ReadOutcomesTest, AModuleListThatCannotBeReadStopsAModuleScan) {
    setMake(4);
    vehicle->protocolText = "CAN11_500";
    const std::string file = (resources.path() / "enhanceddiag" / "Toyota_CAN.xml").string();
    const std::string list = R"(<m><module Acronym="ECM" Description="Engine" Request_ID="7E0"/>
        <module Acronym="ABS" Description="Brakes" Request_ID="7B0"/></m>)";
    struct Case {
        const char* name;
        std::function<void()> damage;
        std::string why;  // empty: the list was read
    };
    const std::vector<Case> cases = {
        {"whole", [&] { writeResource("enhanceddiag/Toyota_CAN.xml", list); }, ""},
        {"missing", [&] { std::filesystem::remove(file); }, "it is missing"},
        {"not encrypted", [&] { writeFileBytes(file, Data(list.begin(), list.end())); },
         "it does not decrypt"},
        {"cut short",
         [&] { writeResource("enhanceddiag/Toyota_CAN.xml", list.substr(0, list.size() / 2)); },
         "it does not parse at line 2: no element found"},
        {"empty", [&] { writeResource("enhanceddiag/Toyota_CAN.xml", ""); },
         "it does not parse at line 1: no element found"},
        {"no module", [&] { writeResource("enhanceddiag/Toyota_CAN.xml", "<m></m>"); },
         "it holds no module"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeResource("enhanceddiag/Toyota_CAN.xml", list);
        c.damage();
        fakes.logger->clear();
        clearEvents();
        QZEnhancedScanner scan;
        EXPECT_EQ(scan.loadScan(1), c.why.empty() ? 4 : 0);
        if (!c.why.empty()) {
            EXPECT_EQ(fakes.logger->linesStartingWith("E:"),
                      (Texts{"E:Module list Toyota_CAN could not be read: " + c.why,
                             "E:Scan stopped, module lists could not be read: Toyota_CAN",
                             "E:Scanner setup failed"}));
            EXPECT_TRUE(events().empty()) << "no command before the lists are read";
        }
        QZEnhancedScanner checkEngine;
        EXPECT_EQ(checkEngine.loadScan(0), 2);
    }
    // A make without manufacturer support has no lists to miss.
    setMake(0);
    QZEnhancedScanner unsupported;
    EXPECT_EQ(unsupported.loadScan(1), 2);
}

}  // namespace
}  // namespace qz::scanningtest
