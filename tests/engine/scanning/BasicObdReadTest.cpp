#include "engine/scanning/ScanningFakes.hpp"

namespace qz::scanningtest {
namespace {

const char* kTroubleCodes = R"(<troublecodes>
  <sae>
    <tc><c>P0301</c><d>Cylinder 1 misfire</d></tc>
    <tc><c>P0302</c><d>See Check Report</d></tc>
    <tc><c>P0420</c><d>Catalyst efficiency</d></tc>
    <tc><c>12345</c><d>Check report for this code</d></tc>
  </sae>
  <BMW><tc><c>2A82</c><d>BMW make text</d></tc></BMW>
</troublecodes>)";

class BasicObdReadTest : public ScanningTest {
  protected:
    BasicObdReadTest() { writeResource("troublecodes/troublecodes.xml", kTroubleCodes); }

    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
};

// The generic read: separate or merged modules, the commands in either form, and only J2012
// codes taken from the replies (without the failure-type byte that may follow one).
TEST_F(BasicObdReadTest, ReadsStoredPendingAndPermanentCodes) {
    struct Module {
        std::string description;
        Texts codes;
        Texts statuses;
    };
    struct Case {
        const char* name;
        bool separate;
        bool permanent;
        bool newCommands;
        std::string stored, pending, permanentReply;
        std::vector<Module> modules;
    };
    const std::vector<Case> cases = {
        {"separate, duplicates dropped",
         true,
         false,
         true,
         "P0301 P0301 U0100 >",
         "NO DATA\r\r>",
         "P0420\r>",
         {{"Confirmed", {"P0301", "U0100"}, {"Confirmed", "Confirmed"}}, {"Pending", {}, {}}}},
        {"separate with permanent codes",
         true,
         true,
         true,
         "NO DATA\r>",
         "P0171\r>",
         "P0420\r>",
         {{"Confirmed", {}, {}},
          {"Pending", {"P0171"}, {"Pending"}},
          {"Permanent", {"P0420"}, {"Permanent"}}}},
        {"merged",
         false,
         true,
         true,
         "P0301\rP0420\r\r>",
         "P0301\rP0171\r>",
         "P0420\r>",
         {{"Emissions",
           {"P0301", "P0420", "P0171"},
           {"CONFIRMED/PENDING", "CONFIRMED/PERMANENT", "PENDING"}}}},
        {"merged without permanent codes, old command set",
         false,
         false,
         false,
         "P0301\r>",
         "NO DATA\r>",
         "P0420\r>",
         {{"Emissions", {"P0301"}, {"CONFIRMED"}}}},
        {"echoes and fillers are no codes",
         false,
         false,
         true,
         "KQTC\rP0000\rC1234\r>",
         "KQTCP\rNO DATA\r>",
         "",
         {{"Emissions", {"C1234"}, {"CONFIRMED"}}}},
        // Headers, byte counts and the adapter's words are no codes; a failure-type byte is
        // not part of its code; an empty reply holds none.
        {"headers, byte counts, failure types",
         false,
         true,
         true,
         "SEARCHING...\r7E8 P0301\r7E8 U0100-87\r>",
         "02\rP0171\rP0301\r\r>",
         "\r>",
         {{"Emissions",
           {"P0301", "U0100", "P0171"},
           {"CONFIRMED/PENDING", "CONFIRMED", "PENDING"}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fakes.settings->newCommandSet = c.newCommands;
        const std::string prefix = c.newCommands ? "KQ" : "AT";
        vehicle->script(prefix + "TC", {c.stored});
        vehicle->script(prefix + "TCP", {c.pending});
        vehicle->script(prefix + "TCA", {c.permanentReply});
        delegate = std::make_shared<RecordingDelegate>();
        QZEnhancedScanner scan;
        scan.setDelegate(delegate);
        scan.setUseSeperateEmissionsModules(c.separate);
        clearEvents();
        scan.startBasicObdScan(c.permanent);
        EXPECT_EQ(events(), (Texts{"send:" + prefix + "TC", "send:" + prefix + "TCP",
                                   "send:" + prefix + "TCA"}));
        const auto modules = delegate->modules();
        ASSERT_EQ(modules.size(), c.modules.size());
        for (size_t i = 0; i < modules.size(); ++i) {
            const auto& m = *modules[i];
            EXPECT_EQ(m.description(), c.modules[i].description);
            EXPECT_EQ(m.accronym(), "OBD");
            EXPECT_EQ(m.light(), "ENGINE");
            EXPECT_EQ(m.category(), "ENGINE");
            EXPECT_EQ(m.busType(), "0");
            EXPECT_EQ(m.responseState(), ResponseStateHasData);
            EXPECT_EQ(m.codeList().value_or(Texts{}), c.modules[i].codes);
            EXPECT_EQ(m.statusList().value_or(Texts{}), c.modules[i].statuses);
            EXPECT_EQ(m.definitionList().value_or(Texts{}).size(), c.modules[i].codes.size());
        }
        EXPECT_EQ(delegate->onMainQueue(), std::vector<bool>(c.modules.size(), true));
    }
    // Descriptions come from the catalogue.
    QZEnhancedScanner scan;
    auto m = scan.basicCodeResponseToQZEModuleDataWithString("P0301 P0420 P1234\r>", "Pending");
    EXPECT_EQ(m->definitionList(),
              (Texts{"Cylinder 1 misfire", "Catalyst efficiency", "No description available"}));

    // No sensor: the replies are logged as missing, and no module claims there are no codes.
    fakes.crew.registerVehicleCommuications(nullptr);
    delegate = std::make_shared<RecordingDelegate>();
    scan.setDelegate(delegate);
    fakes.logger->clear();
    scan.startBasicObdScan(true);
    EXPECT_EQ(fakes.logger->linesStartingWith("I:"),
              (Texts{"I:Confirmed Codes Result: (null)", "I:Pending Codes Result: (null)",
                     "I:Perm Codes Result: (null)"}));
    EXPECT_TRUE(delegate->modules().empty());
    EXPECT_TRUE(scan.scanErrorDuringScan());
}

TEST_F(BasicObdReadTest, MergesStatusWords) {
    struct Case {
        Texts codes, statuses, definitions;
        std::string code, status;
        std::optional<std::string> description;
        Texts outCodes, outStatuses, outDefinitions;
    };
    const std::vector<Case> cases = {
        {{}, {}, {}, "P0100", "pending", "MAF", {"P0100"}, {"PENDING"}, {"MAF"}},
        {{}, {}, {}, "P0100", "Pending", std::nullopt, {"P0100"}, {"PENDING"}, {}},
        {{"P0100"},
         {"confirmed"},
         {"MAF"},
         "P0100",
         "PENDING/CONFIRMED",
         "x",
         {"P0100"},
         {"CONFIRMED/PENDING"},
         {"MAF"}},
        {{"P0100"}, {""}, {"MAF"}, "P0100", "Pending", "x", {"P0100"}, {"PENDING"}, {"MAF"}},
        {{"P0100"}, {}, {}, "P0100", "Pending", "x", {"P0100"}, {"PENDING"}, {}},
        {{"P0100"}, {"CONFIRMED"}, {"MAF"}, "P0100", "", "x", {"P0100"}, {"CONFIRMED"}, {"MAF"}},
        // Shorter lists: the new code's status and text stay beside it.
        {{"P0100", "P0200"},
         {"CONFIRMED"},
         {},
         "P0300",
         "Pending",
         "Misfire",
         {"P0100", "P0200", "P0300"},
         {"CONFIRMED", "", "PENDING"},
         {"", "", "Misfire"}},
        {{"P0100", "P0200"},
         {"CONFIRMED"},
         {"MAF"},
         "P0300",
         "Pending",
         std::nullopt,
         {"P0100", "P0200", "P0300"},
         {"CONFIRMED", "", "PENDING"},
         {"MAF"}},
    };
    for (const auto& c : cases) {
        QZEModuleData m;
        m.setCodeList(c.codes);
        m.setStatusList(c.statuses);
        m.setDefinitionList(c.definitions);
        QZEnhancedScanner::addCode(c.code, c.status, c.description, m);
        EXPECT_EQ(m.codeList(), c.outCodes) << c.code << " " << c.status;
        EXPECT_EQ(m.statusList(), c.outStatuses) << c.code << " " << c.status;
        EXPECT_EQ(m.definitionList(), c.outDefinitions) << c.code << " " << c.status;
    }
}

TEST_F(BasicObdReadTest, FillsMissingCodeTexts) {
    struct Case {
        const char* name;
        int64_t make;
        Texts codes, definitions, statuses;
        std::map<std::string, std::string> extras;
        Texts outDefinitions, outStatuses;
    };
    const std::vector<Case> cases = {
        {"missing and placeholder texts",
         6,
         {"P0301", "P0420", "P0100", "P0301"},
         {"", "Reserved", "Own text"},
         {"CONFIRMED/"},
         {},
         {"Cylinder 1 misfire", "Catalyst efficiency", "Own text", "Cylinder 1 misfire"},
         {"CONFIRMED", "", "", ""}},
        {"check report texts",
         6,
         {"P0301", "P0302", "12345"},
         {"Check report for description", "", ""},
         {},
         {},
         {"Cylinder 1 misfire", "See Check Report", ""},
         {"", "", ""}},
        {"Mercedes variants keep their texts",
         9,
         {"P0301"},
         {""},
         {},
         {{"MBVARIANTS", "1"}},
         {""},
         {""}},
        {"BMW", 5, {"2A82"}, {}, {}, {}, {"BMW make text"}, {""}},
    };
    QZEnhancedScanner scan;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setMake(c.make);
        auto m = module("M", "1", c.extras);
        m->setCodeList(c.codes);
        m->setDefinitionList(c.definitions);
        m->setStatusList(c.statuses);
        scan.populateCodeDefs(*m);
        EXPECT_EQ(m->codeList(), c.codes);
        EXPECT_EQ(m->definitionList(), c.outDefinitions);
        EXPECT_EQ(m->statusList(), c.outStatuses);
    }
}

}  // namespace
}  // namespace qz::scanningtest
