#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "lib/Modules/QZEBaseDiagnosticModule.hpp"
#include "lib/Modules/QZEBatteryReset.hpp"
#include "lib/Modules/QZENaks.hpp"
#include "support/EngineFakes.hpp"

using namespace qz;
using namespace qz::testsupport;

namespace {

using Texts = std::vector<std::string>;

using Module = BareModule;

class BaseModuleTest : public ::testing::Test {
  protected:
    EngineFakes fakes;
};

}  // namespace

// The retry helpers: sends and pauses (in virtual time), in order, for scripted replies.
TEST_F(BaseModuleTest, RetryHelpersSendAndPauseAsTheRepliesDemand) {
    enum Helper { kline, can, noData };
    struct Case {
        const char* name;
        Helper helper;
        Texts replies;       // one per send; the last repeats
        Texts events;        // "send" and pauses in order
        std::string result;  // the reply returned
    };
    const std::string S = "send:21 01";
    const std::vector<Case> cases = {
        {"kline data", kline, {"61 01 00\r\r>"}, {S}, "61 01 00\r\r>"},
        {"kline pending six times: no pause",
         kline,
         {"7F 21 78\r\r>"},
         {S, S, S, S, S, S},
         "7F 21 78\r\r>"},
        {"kline pending then data", kline, {"7F 21 78", "61 01"}, {S, S}, "61 01"},
        {"kline pending after the bus init notice, then data",
         kline,
         {"BUS INIT: ...OK\r7F 21 78", "61 01"},
         {S, S},
         "61 01"},
        {"kline empty thrice: a pause after each send",
         kline,
         {""},
         {S, "sleep:1", S, "sleep:1", S, "sleep:1"},
         ""},
        {"kline busy then data",
         kline,
         {"83 F1 10 7F 21 21 C5", "61 01"},
         {S, "sleep:1", S},
         "61 01"},
        {"kline other negative answer", kline, {"7F 21 12"}, {S}, "7F 21 12"},
        {"can empty: one send, one pause", can, {"\r\r>"}, {S, "sleep:5"}, "\r\r>"},
        {"can busy thrice: 15 s",
         can,
         {"7F 21 21\r\r>"},
         {S, "sleep:5", S, "sleep:5", S, "sleep:5"},
         "7F 21 21\r\r>"},
        {"can: another request's busy answer is none",
         can,
         {"7F 22 21\r\r>"},
         {S},
         "7F 22 21\r\r>"},
        {"can pending then data", can, {"7F 21 78", "61 01"}, {S, "sleep:5", S}, "61 01"},
        {"can pending after SEARCHING..., then data",
         can,
         {"SEARCHING...\r7F 21 78", "61 01"},
         {S, "sleep:5", S},
         "61 01"},
        {"can no data", can, {"NO DATA\r\r>"}, {S}, "NO DATA\r\r>"},
        {"can out of range", can, {"7F 21 31"}, {S}, "7F 21 31"},
        {"no data thrice", noData, {"NO DATA"}, {S, S, S}, "NO DATA"},
        {"no data (without its blank) then data", noData, {"NODATA", "61 01"}, {S, S}, "61 01"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fakes.events->clear();
        fakes.vehicle->script("21 01", c.replies);
        Module m;
        const QZECommandReply reply = c.helper == kline ? m.retryIfNrcAckOnKline("21 01")
                                      : c.helper == can ? m.retryIfNrcAckOnCAN("21 01")
                                                        : m.sendCommandWithReties("21 01");
        EXPECT_EQ(reply.text, c.result);
        EXPECT_EQ(fakes.events->events(), c.events);
    }
    EXPECT_EQ(fakes.logger->linesStartingWith("I:Retrying"),
              (Texts{"I:Retrying NO_DATA CMD: 21 01, attempt 2 of 3",
                     "I:Retrying NO_DATA CMD: 21 01, attempt 3 of 3",
                     "I:Retrying NO_DATA CMD: 21 01, attempt 2 of 3"}));
}

// A module class that replaces sendCommandToOstrel changes every retry helper.
TEST_F(BaseModuleTest, RetryHelpersSendThroughTheOverride) {
    class Override : public Module {
      public:
        QZECommandReply sendCommandToOstrel(const std::string& cmd) override {
            seen.push_back(cmd);
            return {};
        }
        Texts seen;
    } m;
    m.retryIfNrcAckOnKline("A");
    m.retryIfNrcAckOnCAN("B");
    m.sendCommandWithReties("C");
    m.request("D", QZEBaseDiagnosticModule::Retry::none);
    EXPECT_EQ(m.seen, (Texts{"A", "A", "A", "B", "C", "D"}));
    EXPECT_TRUE(fakes.eventsOf("send:").empty());
}

TEST_F(BaseModuleTest, RepliesRaiseTheResponseStateInOrder) {
    struct Case {
        int64_t make;
        Texts replies;  // in order, to one module
        int64_t state;
    };
    const std::vector<Case> cases = {
        {4, {""}, ResponseStateUnknown},
        {4, {"\r\r>"}, ResponseStateUnknown},
        {4, {"NO DATA\r\r>"}, ResponseStateNoData},
        {4, {"7F 19 12\r\r>"}, ResponseStateHasNakData},
        {4, {"03 7F 19 12"}, ResponseStateHasNakData},  // a single frame's PCI byte shown
        {1, {"03 7F 19 12"}, ResponseStateHasNakData},  // on every make
        {1, {"7f 19 12"}, ResponseStateHasNakData},
        {1, {"7EA 7F 19 12"}, ResponseStateHasNakData},     // headers shown: after the identifier
        {1, {"7EA 03 7F 19 12"}, ResponseStateHasNakData},  // and the frame's length byte
        {1, {"7EA 10 03 7F 19 12"}, ResponseStateHasNakData},  // a first frame of three bytes
        // The answer to another request: bytes of the module that could not be read.
        {1, {"7EA 7F A9 12"}, ResponseStateHasData},
        {4, {"59 02 FF", "NO DATA", "7F 19 12"}, ResponseStateHasData},  // never decreases
        {4, {"NO DATA", "7F 19 31", "NO DATA"}, ResponseStateHasNakData},
    };
    for (const auto& c : cases) {
        Module m(c.make);
        for (const auto& r : c.replies) {
            fakes.vehicle->script("19 02 FF", {r});
            m.sendCommandToOstrel("19 02 FF");
        }
        EXPECT_EQ(m.responseState(), c.state) << c.make << " " << c.replies.back();
    }
    // A reply rated without its request: any message that is no negative answer answers.
    for (const auto& [reply, state] : std::vector<std::pair<std::string, int64_t>>{
             {"59 02 FF 01 23 45 08\r\r>", ResponseStateHasData},
             {"7E8 03 59 02 FF\r\r>", ResponseStateHasData},
             {"62 F1 00 0D \r\r>", ResponseStateHasData},
             {"7F 19 12\r\r>", ResponseStateHasNakData},
             {"7E8 03 7F 22 31 \r\r>", ResponseStateHasNakData},
             {"NO DATA\r\r>", ResponseStateNoData}}) {
        Module rated;
        rated.evaluteModuleResponse(reply);
        EXPECT_EQ(rated.responseState(), state) << reply;
    }
    // Sensor commands never count.
    Module m;
    fakes.vehicle->script("KQTC", {"59 02 FF 01 23 45 08"});
    EXPECT_EQ(m.sendCommandToOstrel("KQTC").text, "59 02 FF 01 23 45 08");
    EXPECT_EQ(m.responseState(), ResponseStateUnknown);

    auto upgrades = fakes.logger->linesStartingWith("I:Updrading");
    ASSERT_FALSE(upgrades.empty());
    EXPECT_EQ(upgrades[0], "I:Updrading response state to NoDatadue to response: NO DATA\r\r>");
    EXPECT_EQ(fakes.logger->linesStartingWith("V:Send this command")[0],
              "V:Send this command to the vehicle: 19 02 FF");
}

TEST_F(BaseModuleTest, NoAdapterGivesAnEmptyReplyAndRefusedSetups) {
    fakes.crew.registerVehicleCommuications(nullptr);
    Module m;
    EXPECT_EQ(m.sendCommandToOstrel("19 02 FF").text, "");
    EXPECT_FALSE(m.sendSetupCommandToOstrel("KQH1"));
    EXPECT_EQ(m.responseState(), ResponseStateUnknown);
}

TEST(NaksTest, RecognisesNegativeResponsesAtTheStartOfTheReply) {
    struct Case {
        const char* reply;
        int64_t mask;
        bool match;
    };
    const std::vector<Case> cases = {
        {"7F 19 21", QZENaks::NakBusy, true},
        {"7F 19 37", QZENaks::NakBusy, true},
        {"7F 19 10", QZENaks::NakBusy, true},
        {"7F 19 23", QZENaks::NakBusy, true},
        {"7F 19 12", QZENaks::NakSubFunction, true},
        {"7F 19 11", QZENaks::NakServiceNotSupported, true},
        {"7F 19 31", QZENaks::NakOutOfRange, true},
        {"7F 19 78", QZENaks::NakResponsePending, true},
        {"7F 19 22", QZENaks::NakConditionsNotCorrect, true},
        {"7F 19 13", QZENaks::NakMessageLength, true},
        {"7F 19 7E", QZENaks::NakNotInActiveSession, true},
        {"7f 19 7e", QZENaks::NakNotInActiveSession, true},  // either case
        {"7F 19 78", QZENaks::NakBusy | QZENaks::NakSubFunction, false},
        {"7F 19 78", 64, false},  // bit 64 has no family
        {"7F 19 78", 0, false},
        {"7F 19 78", 0x1FF, true},
        {"41 00 7F 19 12", QZENaks::NakSubFunction, false},  // a 7F inside data is data
        {"7E8 03 7F 19 78\r\r>", QZENaks::NakResponsePending, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QZENaks::response(c.reply, c.mask), c.match) << c.reply << " " << c.mask;

    // A negative response where a message begins: at the line's start, behind the identifier
    // and PCI byte; bare or cut short too.
    const std::vector<std::pair<const char*, bool>> any = {
        {"7F 19 12", true},
        {"18DAF110 03 7F 19 12", true},
        {"18 DA F1 10 03 7F 19 12", true},
        {"SEARCHING...\r7E8 03 7F 19 12", true},
        {"7F 19", true},
        {"7F", true},
        {"01 02 03 04 7F 19 12", false},
        {"59 02 FF 7F 19 12 00", false},
        {"7F 19 78\r59 02 FF", false},  // pending, then the answer
        {"7F1912", true},               // printed without blanks
        {"NO DATA", false},
        {"", false},
        {"X 7F 19 12", false},
    };
    for (const auto& [reply, match] : any) EXPECT_EQ(QZENaks::isNAK(reply), match) << reply;

    EXPECT_TRUE(QZENaks::doesStringMatchRegex("abc 7e8", "7E8"));
    EXPECT_FALSE(QZENaks::doesStringMatchRegex("abc", "^b"));
    EXPECT_FALSE(QZENaks::doesStringMatchRegex("abc", "(unclosed"));
}

TEST_F(BaseModuleTest, CodesMergeTheirStatusWords) {
    Module m;
    m.addCode("P0300", "PENDING");
    m.addCode("P0300", "CONFIRMED/PENDING");
    m.addCode("B1000", "NOT PRESENT", "Door");
    m.addCode("B1000", "PRESENT", "ignored");  // a substring of the stored status
    m.addCode("C0035", "");
    m.addCode("C0035", "/MIL//");  // empty stored status takes the word itself
    m.addCode("C0035", "");        // an empty status changes nothing
    EXPECT_EQ(m.codeArray(), (Texts{"P0300", "B1000", "C0035"}));
    EXPECT_EQ(m.statusArray(), (Texts{"PENDING/CONFIRMED", "NOT PRESENT", "MIL"}));
    EXPECT_EQ(m.definitionArray(), (Texts{"Door"}));
    EXPECT_EQ(fakes.logger->linesStartingWith("I:Adding Code")[0],
              "I:Adding Code: P0300, status: PENDING, description: (null)");
}

TEST_F(BaseModuleTest, ProtocolAndPinsAreSelectedOnlyWhenTheyChange) {
    struct Case {
        const char* name;
        OptionalText protocol;  // argument of setProtocolIfNeeded, when set
        OptionalText pins;      // argument of setPinsIfNeeded, when set
        int64_t firmware;
        bool newCommandSet;
        Texts setups;
    };
    fakes.vehicle->protocol = "6";
    fakes.vehicle->highPin = 6;
    fakes.vehicle->lowPin = 14;
    const std::vector<Case> cases = {
        {"same protocol", "6", std::nullopt, 405, true, {}},
        {"new protocol", "7", std::nullopt, 405, true, {"setup:KQSP7"}},
        {"old command set", "A", std::nullopt, 405, false, {"setup:ATSPA"}},
        {"two characters", "10", std::nullopt, 405, true, {}},
        {"same pins", std::nullopt, "6E", 405, true, {}},
        {"new pins", std::nullopt, "7F", 400, true, {"setup:KQSM7F"}},
        {"old firmware", std::nullopt, "7F", 399, true, {}},
        {"one character", std::nullopt, "7", 405, true, {}},
        {"not hex", std::nullopt, "7G", 405, true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fakes.events->clear();
        fakes.settings->version = c.firmware;
        fakes.settings->newCommandSet = c.newCommandSet;
        Module m;
        if (c.protocol) m.setProtocolIfNeeded(c.protocol);
        if (c.pins) m.setPinsIfNeeded(c.pins);
        EXPECT_EQ(fakes.events->events(), c.setups);
    }
    Module().setProtocolIfNeeded(std::nullopt);
    EXPECT_EQ(fakes.logger->linesStartingWith("E:Invalid protocol requested").size(), 2u);
    EXPECT_EQ(fakes.logger->linesStartingWith("E:Invalid pins requested: 7G").size(), 1u);

    // The module's extras select both.
    fakes.events->clear();
    fakes.settings->newCommandSet = true;
    QZEModuleData record;
    record.setExtra("protocol", "8");
    record.setExtra("pins", "7F");
    Module().selectBus(record);
    EXPECT_EQ(fakes.events->events(), (Texts{"setup:KQSP8", "setup:KQSM7F"}));
}

TEST_F(BaseModuleTest, SetupCommandsAreTriedThreeTimes) {
    Module m;
    fakes.vehicle->refuseSetups(2);
    EXPECT_TRUE(m.sendSetupCommandToOstrel("KQH1"));
    EXPECT_EQ(m.readOutcome(), QZEReadOutcome::complete);
    fakes.vehicle->refuseSetups(-1);
    EXPECT_FALSE(m.sendSetupCommandToOstrel("KQH0"));
    EXPECT_EQ(fakes.eventsOf("setup:"), (Texts{"setup:KQH1", "setup:KQH1", "setup:KQH1",
                                               "setup:KQH0", "setup:KQH0", "setup:KQH0"}));
    // Refused for good: logged. Sending alone decides nothing of the read; a set-up the read
    // needs does: what the module would read now is not known to be its own.
    EXPECT_EQ(m.readOutcome(), QZEReadOutcome::complete);
    EXPECT_EQ(fakes.logger->linesStartingWith("E:Setup command refused: KQH0").size(), 1u);
    EXPECT_FALSE(m.setUpForRead("KQH0"));
    EXPECT_EQ(m.readOutcome(), QZEReadOutcome::setupRefused);
    // No answer at all is told apart.
    fakes.vehicle->setupsUnanswered = true;
    EXPECT_FALSE(m.sendSetupCommandToOstrel("KQSH7E0"));
    EXPECT_EQ(fakes.logger->linesStartingWith("E:Setup command not answered: KQSH7E0").size(), 1u);
    EXPECT_EQ(fakes.logger->linesStartingWith("E:Setup command refused: KQSH7E0").size(), 0u);
    fakes.vehicle->setupsUnanswered = false;

    fakes.events->clear();
    fakes.vehicle->refuseSetups(0);
    EXPECT_TRUE(m.sendSetupCommands({"KQH1", Module::setupCommand("SH7E0")}));
    fakes.settings->newCommandSet = false;
    EXPECT_EQ(Module::setupCommand("CAF0"), "ATCAF0");
    EXPECT_EQ(fakes.eventsOf("setup:"), (Texts{"setup:KQH1", "setup:KQSH7E0"}));
}

TEST_F(BaseModuleTest, DefaultReadsFail) {
    Module m;
    QZEModuleData record;
    EXPECT_FALSE(m.scanCodes(record));
    EXPECT_FALSE(m.clearCodes(record));
    EXPECT_EQ(fakes.logger->linesStartingWith("V:Not implemented, should not be called!").size(),
              2u);
    EXPECT_EQ(m.requestType(), 1);
    EXPECT_TRUE(m.retryEnabled());
    EXPECT_EQ(m.vehicleManufacturer(), 4);
}

TEST_F(BaseModuleTest, TheUserInteractionEndsByTheUserOrByTheLinkGoingAway) {
    auto& center = NotificationCenter::defaultCenter();
    std::vector<std::string> messages;
    auto token = center.addObserver("PelkInteractionRequired", [&](const Notification& n) {
        if (auto msg = n.value<std::string>("msg")) messages.push_back(*msg);
    });

    // "PelkInteractionComplete" clears every live module.
    Module a, b;
    a.postInteractionNotificaiton("Turn the ignition off");
    b.postInteractionNotificaiton("again");
    EXPECT_TRUE(a.awaitingInteraction());
    center.post("PelkInteractionComplete", &messages);
    EXPECT_FALSE(a.awaitingInteraction());
    EXPECT_FALSE(b.awaitingInteraction());
    EXPECT_TRUE(a.waitForInteraction());
    EXPECT_EQ(messages, (Texts{"Turn the ignition off", "again"}));

    // A link lost before any wait leaves the next wait alone.
    center.post("DeviceDisconnected");
    for (const char* ending : {"PelkInteractionComplete", "DeviceDisconnected", "DeviceTimedOut"}) {
        SCOPED_TRACE(ending);
        Module m;
        m.postInteractionNotificaiton("wait");
        std::atomic<int> result{-1};
        std::thread waiter([&] { result = m.waitForInteraction() ? 1 : 0; });
        center.post(ending);
        waiter.join();
        EXPECT_EQ(result, std::string(ending) == "PelkInteractionComplete" ? 1 : 0);
        EXPECT_FALSE(m.awaitingInteraction());
    }

    // A link lost just before the module asks ends its wait at once: the loss is not missed.
    for (const char* loss : {"DeviceDisconnected", "DeviceTimedOut"}) {
        SCOPED_TRACE(loss);
        messages.clear();
        Module m;
        center.post(loss);
        m.postInteractionNotificaiton("too late");
        EXPECT_FALSE(m.awaitingInteraction());
        if (!m.awaitingInteraction()) {
            EXPECT_FALSE(m.waitForInteraction());
        }
        EXPECT_EQ(messages, (Texts{"too late"}));
    }
    center.removeObserver(token);
}

TEST_F(BaseModuleTest, BatteryResetSendsWithoutEvaluationAndRestoresTheSensor) {
    QZEBatteryReset reset;
    fakes.vehicle->script("31 01 AA", {"NO DATA", "NODATA", "NO DATA", "71 01"});
    EXPECT_EQ(reset.send("31 01 AA"), "NO DATA");
    EXPECT_EQ(fakes.eventsOf("send:").size(), 3u);
    fakes.events->clear();
    fakes.vehicle->answerWith([](const std::string&) { return "OK\r\r>"; });
    auto result = std::make_shared<QZEBatteryResetResult>();
    result->setSuccess(true);
    result->setMessage("done");
    EXPECT_EQ(reset.resetToDefaultsWithResult(result), result);
    EXPECT_EQ(fakes.events->events(), (Texts{"send:KQCM7F8", "send:KQD", "reset-timeout"}));
    EXPECT_EQ(result->message(), "done");
    EXPECT_EQ(QZEBatteryReset::responseToArray(" 71 01\r\r>"), (Texts{"71", "01"}));
}
