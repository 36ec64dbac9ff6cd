// What a module's reply says of its read: an answer, no answer (the sensor's words, junk, a
// module still working on the request), or an answer cut short; and how long the engine asks.

#include <gtest/gtest.h>

#include "lib/Modules/QZEBaseDiagnosticModule.hpp"
#include "support/EngineFakes.hpp"

using namespace qz;
using namespace qz::testsupport;

namespace {

using Texts = std::vector<std::string>;

class ModuleRepliesTest : public ::testing::Test {
  protected:
    EngineFakes fakes;
};

TEST_F(ModuleRepliesTest, OnlyModuleDataCountsAsAnAnswer) {
    auto ask = [](const char* request, QZEFraming framing = QZEFraming::can, int positive = -1) {
        QZEAsked asked = QZEAsked::of(request, framing, {});
        asked.positive = positive;
        return std::make_pair(std::string(request), asked);
    };
    const auto toyota = ask("13");
    const auto kwp = ask("18 00 FF 00");
    const auto kLine = ask("18 00 FF 00", QZEFraming::kLine);
    const auto uds = ask("19 02 FF");
    const auto gmlan = ask("A9 81 12", QZEFraming::can, 0x81);
    auto udsFrom7E9 = ask("19 02 FF");
    udsFrom7E9.second.from = {"7E9"};
    const auto stopped = [](const char* part) { return ScriptedVehicle::stalled(part); };
    struct Case {
        const char* name;
        std::pair<std::string, QZEAsked> asked;
        Texts replies;  // in order, to one module
        int64_t state;
    };
    const std::vector<Case> cases = {
        {"the sensor did not understand", toyota, {"?\r>"}, ResponseStateNoData},
        {"bus error", toyota, {"CAN ERROR\r\r>"}, ResponseStateNoData},
        {"K-line init failed", kLine, {"BUS INIT: ...ERROR\r\r>"}, ResponseStateNoData},
        {"stopped", toyota, {"STOPPED\r>"}, ResponseStateNoData},
        {"junk", toyota, {"59 0? F#\r\r>"}, ResponseStateNoData},
        // A flagged frame: the module answered, and what it said could not be read.
        {"a flag before a byte", toyota, {"<RX ERROR 59\r>"}, ResponseStateHasData},
        {"only response pending", toyota, {"7F 13 78 \r\r>"}, ResponseStateHasNakData},
        {"pending twice in one reply",
         toyota,
         {"7F 13 78 \r7F 13 78 \r\r>"},
         ResponseStateHasNakData},
        {"pending with headers", toyota, {"7E8 03 7F 13 78 \r\r>"}, ResponseStateHasNakData},
        {"pending on K-line with headers",
         kLine,
         {"83 F1 10 7F 18 78 9B \r\r>"},
         ResponseStateHasNakData},
        {"GMLAN pending", gmlan, {"7EA 03 7F A9 78 \r\r>"}, ResponseStateHasNakData},
        {"only busy", toyota, {"7F 13 21 \r\r>"}, ResponseStateHasNakData},
        {"busy with headers", toyota, {"7E8 03 7F 13 37 \r\r>"}, ResponseStateHasNakData},
        {"another address's answer", udsFrom7E9, {"7E8 03 59 02 FF \r\r>"}, ResponseStateNoData},
        {"stopped inside the answer", uds, {stopped("59 02 FF 01 23 ")}, ResponseStateHasData},
        {"stopped after response pending", uds, {stopped("7F 19 78 \r")}, ResponseStateHasNakData},
        // What followed the refusal is unknown: an answer that could not be read.
        {"stopped after a refusal", uds, {stopped("7F 19 31 \r")}, ResponseStateHasData},
        {"a failed exchange",
         uds,
         {QZVehicleCommunicationProtocol::kNoDataReply},
         ResponseStateNoData},
        {"pending, then the data", toyota, {"7F 13 78", "53 02 11 35 16 56"}, ResponseStateHasData},
        {"pending, then a refusal", toyota, {"7F 13 78", "7F 13 22"}, ResponseStateHasNakData},
        {"a refusal after pending in one reply",
         toyota,
         {"7F 13 78\r7F 13 22"},
         ResponseStateHasNakData},
        {"a refusal", toyota, {"7F 13 22 \r\r>"}, ResponseStateHasNakData},
        {"data", toyota, {"53 02 11 35 16 56 \r\r>"}, ResponseStateHasData},
        {"multi-frame, headers off",
         toyota,
         {"00A\r0: 53 04 52 01 52 41 \r1: 52 49 53 36 \r\r>"},
         ResponseStateHasData},
        {"headers on",
         toyota,
         {"7E8 10 0A 53 04 52 01 52 41 \r21 52 49 53 36 \r\r>"},
         ResponseStateHasData},
        // With headers off a line may begin with its frame byte.
        {"a frame byte shown before a negative answer",
         gmlan,
         {"03 7F A9 78"},
         ResponseStateHasNakData},
        {"data, then words: never lower", uds, {"59 02 FF", "?"}, ResponseStateHasData},
        // Identifiers as four bytes, GMLAN, refusals beside words.
        {"pending under a four-byte identifier",
         uds,
         {"18 DA F1 10 03 7F 19 78 \r\r>"},
         ResponseStateHasNakData},
        {"a refusal under a four-byte identifier",
         uds,
         {"18 DA F1 10 03 7F 19 22 \r\r>"},
         ResponseStateHasNakData},
        {"GMLAN: pending and the data in one reply",
         gmlan,
         {"7EA 7F A9 78 \r7EA 81 11 01 00 92 00 00 00 \r\r>"},
         ResponseStateHasData},
        {"words, then a refusal", toyota, {"?", "7F 13 22"}, ResponseStateHasNakData},
        {"a refusal and the sensor's words in one reply",
         toyota,
         {"7F 13 22 \rCAN ERROR\r\r>"},
         ResponseStateHasNakData},
        // Negative responses cut short are refusals too; a 7F byte inside data is data.
        {"a bare negative response byte", toyota, {"7F \r\r>"}, ResponseStateHasNakData},
        {"a negative response without its code", toyota, {"7F 13 \r\r>"}, ResponseStateHasNakData},
        {"a negative response cut in its code", toyota, {"7F 1\r>"}, ResponseStateHasNakData},
        {"K-line with headers, cut short", kLine, {"83 F1 60 7F 18"}, ResponseStateHasNakData},
        {"CAN with headers, cut short", toyota, {"7E8 02 7F 13 \r\r>"}, ResponseStateHasNakData},
        {"GMLAN: cut short", gmlan, {"7EA 02 7F A9 \r\r>"}, ResponseStateHasNakData},
        {"a refusal after the adapter's words",
         uds,
         {"SEARCHING...\r18 DA F1 10 03 7F 19 22 \r\r>"},
         ResponseStateHasNakData},
        {"response pending after the adapter's words",
         kLine,
         {"BUS INIT: ...OK\r83 F1 10 7F 18 78 9B \r\r>"},
         ResponseStateHasNakData},
        {"a cut-short refusal beside data",
         toyota,
         {"7F 13 \r53 02 11 35 16 56 \r\r>"},
         ResponseStateHasData},
        {"data with a 7F code byte", toyota, {"53 01 7F 13 \r\r>"}, ResponseStateHasData},
        {"UDS data with a 7F code byte", uds, {"59 02 FF 7F 13 \r\r>"}, ResponseStateHasData},
        // Bytes that answer nothing asked: an answer that could not be read.
        {"the answer to another request",
         kwp,
         {"59 02 FF 01 23 45 08 \r\r>"},
         ResponseStateHasData},
        {"a cut answer holds data",
         uds,
         {"7E8 10 0B 59 02 FF 01 23 45 \r\r>"},
         ResponseStateHasData},
        // The module's bytes came: it answered, and what it said could not be read.
        {"frames without their beginning are an answer that could not be read",
         uds,
         {"7E8 21 08 C1 00 00 \r\r>"},
         ResponseStateHasData},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BareModule m;
        for (const auto& r : c.replies) {
            fakes.vehicle->script(c.asked.first, {r});
            m.exchange(c.asked.first, QZEBaseDiagnosticModule::Retry::none, c.asked.second);
        }
        EXPECT_EQ(m.responseState(), c.state);
    }
}

// Asked again while the module says it is still working on the request, within a bound; the
// J1850 classes' retry also asks again after NO DATA.
TEST_F(ModuleRepliesTest, ResponsePendingIsWaitedOutWithinABound) {
    using Retry = QZEBaseDiagnosticModule::Retry;
    struct Case {
        const char* name;
        Retry retry;
        Texts replies;  // one per send; the last repeats
        Texts events;   // sends and pauses in order
        std::string result;
    };
    const std::string S = "send:13";
    const std::string P = "7F 13 78 \r\r>";
    const std::string D = "53 02 11 35 16 56 \r\r>";
    const std::string sleep5 = "sleep:5";
    const std::string sleep1 = "sleep:1";
    const std::string B = "7F 13 21 \r\r>";
    const std::string R = "7F 13 22 \r\r>";
    const std::vector<Case> cases = {
        {"CAN: three pending, then data",
         Retry::nrcCan,
         {P, P, P, D},
         {S, sleep5, S, sleep5, S, sleep5, S},
         D},
        {"CAN: pending six times, then given up",
         Retry::nrcCan,
         {P},
         {S, sleep5, S, sleep5, S, sleep5, S, sleep5, S, sleep5, S},
         P},
        {"CAN: pending and data in one reply is not asked again",
         Retry::nrcCan,
         {"7F 13 78 \r53 02 11 35 16 56 \r\r>"},
         {S},
         "7F 13 78 \r53 02 11 35 16 56 \r\r>"},
        {"CAN: pending does not use up the busy retries",
         Retry::nrcCan,
         {"7F 13 21", P, "7F 13 21"},
         {S, sleep5, S, sleep5, S, sleep5, S, sleep5},
         "7F 13 21"},
        {"K-line: five pending, then data",
         Retry::nrcKline,
         {P, P, P, P, P, D},
         {S, S, S, S, S, S},
         D},
        {"K-line: pending and data in one reply",
         Retry::nrcKline,
         {"7F 13 78\r53 52 49"},
         {S},
         "7F 13 78\r53 52 49"},
        {"J1850: NO DATA after a bus switch, then data",
         Retry::nrcJ1850,
         {"NO DATA\r>", D},
         {S, S},
         D},
        {"J1850: NO DATA, pending, then data", Retry::nrcJ1850, {"NO DATA\r>", P, D}, {S, S, S}, D},
        {"J1850: no module", Retry::nrcJ1850, {"NO DATA\r>"}, {S, S, S}, "NO DATA\r>"},
        // Busy, pending, refusals and NO DATA after one another. A module that answered is never
        // one that did not: nothing after it is asked again, and its answer stands.
        {"CAN: pending, then NO DATA",
         Retry::nrcCan,
         {P, "NO DATA\r>"},
         {S, sleep5, S, sleep5, S, sleep5, S, sleep5},
         P},
        {"CAN: pending, then NO DATA, then data",
         Retry::nrcCan,
         {P, "NO DATA\r>", D},
         {S, sleep5, S, sleep5, S},
         D},
        {"K-line: pending, then NO DATA",
         Retry::nrcKline,
         {P, "NO DATA\r>"},
         {S, S, sleep1, S, sleep1, S, sleep1},
         P},
        {"CAN: pending, then a refusal", Retry::nrcCan, {P, R}, {S, sleep5, S}, R},
        {"CAN: busy after SEARCHING..., then data",
         Retry::nrcCan,
         {"SEARCHING...\r" + B, D},
         {S, sleep5, S},
         D},
        {"K-line: busy, pending, then data", Retry::nrcKline, {B, P, D}, {S, sleep1, S, S}, D},
        {"K-line: pending six times, then given up", Retry::nrcKline, {P}, {S, S, S, S, S, S}, P},
        {"K-line: pending, then a refusal", Retry::nrcKline, {P, R}, {S, S}, R},
        {"K-line: busy until the sends run out",
         Retry::nrcKline,
         {B},
         {S, sleep1, S, sleep1, S, sleep1},
         B},
        {"J1850: busy, then data", Retry::nrcJ1850, {B, D}, {S, sleep1, S}, D},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fakes.events->clear();
        fakes.vehicle->script("13", c.replies);
        BareModule m;
        EXPECT_EQ(m.request("13", c.retry).text, c.result);
        EXPECT_EQ(fakes.events->events(), c.events);
    }
}

}  // namespace
