// What a module's reply says of its read: an answer, no answer (the sensor's words, junk, a
// module still working on the request), or an answer cut short; and how long the engine asks.

#include <gtest/gtest.h>

#include "lib/Modules/QZEBaseDiagnosticModule.hpp"
#include "lib/Modules/QZEMultiFrameReplies.hpp"
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
    struct Case {
        const char* name;
        int64_t make;
        Texts replies;  // in order, to one module
        int64_t state;
    };
    const std::vector<Case> cases = {
        {"the sensor did not understand", 4, {"?\r>"}, ResponseStateNoData},
        {"bus error", 4, {"CAN ERROR\r\r>"}, ResponseStateNoData},
        {"K-line init failed", 4, {"BUS INIT: ...ERROR\r\r>"}, ResponseStateNoData},
        {"stopped", 4, {"STOPPED\r>"}, ResponseStateNoData},
        {"junk", 4, {"59 0? F#\r\r>"}, ResponseStateNoData},
        {"a byte in junk is no line of bytes", 4, {"<RX ERROR 59\r>"}, ResponseStateNoData},
        {"only response pending", 4, {"7F 13 78 \r\r>"}, ResponseStateNoData},
        {"pending twice in one reply", 4, {"7F 13 78 \r7F 13 78 \r\r>"}, ResponseStateNoData},
        {"pending with headers", 4, {"7E8 03 7F 13 78 \r\r>"}, ResponseStateNoData},
        {"pending on K-line with headers", 4, {"83 F1 10 7F 13 78 96 \r\r>"}, ResponseStateNoData},
        {"GM pending", 1, {"7EA 03 7F A9 78 \r\r>"}, ResponseStateNoData},
        {"pending, then the data", 4, {"7F 13 78", "53 02 11 35 16 56"}, ResponseStateHasData},
        {"pending, then a refusal", 4, {"7F 13 78", "7F 13 22"}, ResponseStateHasNakData},
        {"a refusal after pending in one reply",
         4,
         {"7F 13 78\r7F 13 22"},
         ResponseStateHasNakData},
        {"a refusal", 4, {"7F 13 22 \r\r>"}, ResponseStateHasNakData},
        {"data", 4, {"53 02 11 35 16 56 \r\r>"}, ResponseStateHasData},
        {"multi-frame, headers off",
         4,
         {"00A\r0: 53 04 52 01 52 41 \r1: 52 49 53 36 \r\r>"},
         ResponseStateHasData},
        {"headers on",
         4,
         {"7E8 10 0A 53 04 52 01 52 41 \r21 52 49 53 36 \r\r>"},
         ResponseStateHasData},
        {"GM: a negative line not first stays data", 1, {"03 7F 19 78"}, ResponseStateHasData},
        {"data, then words: never lower", 4, {"59 02 FF", "?"}, ResponseStateHasData},
        // Identifiers as four bytes, the GM rule, and refusals beside words.
        {"pending under a four-byte identifier",
         4,
         {"18 DA F1 10 03 7F 19 78 \r\r>"},
         ResponseStateNoData},
        {"a refusal under a four-byte identifier",
         4,
         {"18 DA F1 10 03 7F 19 22 \r\r>"},
         ResponseStateHasNakData},
        {"GM: a refusal under a four-byte identifier",
         1,
         {"18 DA F1 10 03 7F 19 22 \r\r>"},
         ResponseStateHasNakData},
        {"GM: pending and the data in one reply",
         1,
         {"7EA 7F A9 78 \r7EA 81 11 01 00 92 00 00 00 \r\r>"},
         ResponseStateHasData},
        {"words, then a refusal", 4, {"?", "7F 13 22"}, ResponseStateHasNakData},
        {"a refusal and the sensor's words in one reply",
         4,
         {"7F 13 22 \rCAN ERROR\r\r>"},
         ResponseStateHasNakData},
        // Negative responses cut short are refusals too; a 7F byte inside data is data.
        {"a bare negative response byte", 4, {"7F \r\r>"}, ResponseStateHasNakData},
        {"a negative response without its code", 4, {"7F 13 \r\r>"}, ResponseStateHasNakData},
        {"a negative response cut in its code", 4, {"7F 1\r>"}, ResponseStateHasNakData},
        {"K-line with headers, cut short", 4, {"83 F1 60 7F 18"}, ResponseStateHasNakData},
        {"CAN with headers, cut short", 4, {"7E8 02 7F 13 \r\r>"}, ResponseStateHasNakData},
        {"GM: cut short", 1, {"7EA 02 7F A9 \r\r>"}, ResponseStateHasNakData},
        {"a refusal after the adapter's words",
         4,
         {"SEARCHING...\r18 DA F1 10 03 7F 19 22 \r\r>"},
         ResponseStateHasNakData},
        {"response pending after the adapter's words",
         4,
         {"BUS INIT: ...OK\r83 F1 10 7F 18 78 9B \r\r>"},
         ResponseStateNoData},
        {"a cut-short refusal beside data",
         4,
         {"7F 13 \r53 02 11 35 16 56 \r\r>"},
         ResponseStateHasData},
        {"data with a 7F code byte", 4, {"53 01 7F 13 \r\r>"}, ResponseStateHasData},
        {"UDS data with a 7F code byte", 4, {"59 02 FF 7F 13 \r\r>"}, ResponseStateHasData},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BareModule m(c.make);
        for (const auto& r : c.replies) {
            fakes.vehicle->script("13", {r});
            m.sendCommandToOstrel("13");
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
        // Busy, pending, refusals and NO DATA after one another.
        {"CAN: pending, then NO DATA",
         Retry::nrcCan,
         {P, "NO DATA\r>"},
         {S, sleep5, S},
         "NO DATA\r>"},
        {"CAN: pending, then a refusal", Retry::nrcCan, {P, R}, {S, sleep5, S}, R},
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
        EXPECT_EQ(m.request("13", c.retry), c.result);
        EXPECT_EQ(fakes.events->events(), c.events);
    }
}

TEST(MultiFrameReplies, AMessageCutShortIsSeenInEveryDisplayForm) {
    struct Case {
        const char* name;
        std::string reply;
        bool extended;
        bool cut;
    };
    const std::vector<Case> cases = {
        {"headers off, whole",
         "00F\r0: 59 02 FF 01 23 45 \r1: 08 C1 00 00 2F 04 20 \r2: 00 8C \r\r>", false, false},
        {"headers off, last frame lost",
         "00F\r0: 59 02 FF 01 23 45 \r1: 08 C1 00 00 2F 04 20 \r\r>", false, true},
        {"headers off, a frame lost", "00F\r0: 59 02 FF 01 23 45 \r2: 00 8C \r\r>", false, true},
        {"headers off, first frame lost", "00F\r1: 08 C1 00 00 2F 04 20 \r2: 00 8C \r\r>", false,
         true},
        {"headers off, length line lost", "1: 08 C1 00 00 2F 04 20 \r2: 00 8C \r\r>", false, true},
        {"headers off, a frame short", "00F\r0: 59 02 FF 01 23 45 \r1: 08 C1 00 \r2: 00 8C \r\r>",
         false, true},
        {"headers off, single frames", "59 02 FF 01 23 45 08 \r7F 19 78 \r\r>", false, false},
        {"headers on, whole",
         "7E8 10 0F 59 02 FF 01 23 45 \r21 08 C1 00 00 2F 04 20 \r22 00 8C \r\r>", false, false},
        {"headers on, padded last frame",
         "7E8 10 0F 59 02 FF 01 23 45 \r21 08 C1 00 00 2F 04 20 \r22 00 8C AA AA AA AA AA \r\r>",
         false, false},
        {"headers on, a frame lost", "7E8 10 0F 59 02 FF 01 23 45 \r22 00 8C \r\r>", false, true},
        {"headers on, cut short", "7E8 10 0F 59 02 FF 01 23 45 \r21 08 C1 00 00 2F 04 20 \r\r>",
         false, true},
        {"headers on, consecutive frames only", "7E8 21 08 C1 00 00 2F 04 20 \r22 00 8C \r\r>",
         false, true},
        {"an identifier on every line",
         "7E8 10 0F 59 02 FF 01 23 45 \r7E8 21 08 C1 00 00 2F 04 20 \r7E8 22 00 8C \r\r>", false,
         false},
        {"two modules one after the other",
         "7E8 10 0A 59 02 FF 01 23 45 \r7E8 21 08 C1 00 00 \r7E9 03 59 02 FF \r\r>", false, false},
        {"two modules interleaved",
         "7E8 10 0A 59 02 FF 01 23 45 \r7E9 03 59 02 FF \r7E8 21 08 C1 00 00 \r\r>", false, false},
        {"29-bit identifier as four bytes",
         "18 DA F1 10 10 0A 59 02 FF 01 23 45 \r18 DA F1 10 21 08 C1 00 00 \r\r>", false, false},
        {"29-bit identifier as four bytes, cut short", "18 DA F1 10 10 0A 59 02 FF 01 23 45 \r\r>",
         false, true},
        {"29-bit identifier as one token, cut short", "18DAF110 10 0A 59 02 FF 01 23 45 \r\r>",
         false, true},
        // Four-byte identifiers as the decoders know them: once or on every line, any of the
        // diagnostic families.
        {"29-bit identifier as four bytes once",
         "18 DA F1 10 10 0A 59 02 FF 01 23 45 \r21 08 C1 00 00 \r\r>", false, false},
        {"29-bit identifier 17 FC as four bytes",
         "17 FC 00 7E 10 0A 59 02 FF 01 23 45 \r17 FC 00 7E 21 08 C1 00 00 \r\r>", false, false},
        {"29-bit identifier 17 FC as four bytes once",
         "17 FC 00 7E 10 0A 59 02 FF 01 23 45 \r21 08 C1 00 00 \r\r>", false, false},
        {"29-bit identifier 17 FC as four bytes, cut short",
         "17 FC 00 7E 10 0A 59 02 FF 01 23 45 \r\r>", false, true},
        {"two 29-bit modules as four bytes, interleaved",
         "18 DA F1 10 10 0A 59 02 FF 01 23 45 \r18 DA F1 28 03 59 02 FF \r"
         "18 DA F1 10 21 08 C1 00 00 \r\r>",
         false, false},
        {"a long message's length", "7E8 11 00 59 02 FF 01 23 45 \r21 00 \r\r>", false, true},
        {"extended addressing, whole", "612 F1 10 07 59 02 FF 01 23 \rF1 21 45 08 \r\r>", true,
         false},
        {"extended addressing, headers off", "F1 10 07 59 02 FF 01 23 \rF1 21 45 08 \r\r>", true,
         false},
        {"extended addressing, cut short", "612 F1 10 07 59 02 FF 01 23 \r\r>", true, true},
        {"extended addressing, a single frame", "612 F1 06 59 02 FF 01 23 45 \r\r>", true, false},
        {"the sensor's words", "NO DATA\r>", false, false},
        {"a first frame without its length", "7E8 10 \r\r>", false, true},
        // A frame out of sequence with every byte there: a lost frame and one repeated.
        {"headers off, a frame lost, the bytes all there",
         "00F\r0: 59 02 FF 01 23 45 \r2: 08 C1 00 00 2F 04 20 \r3: 00 8C \r\r>", false, true},
        {"headers on, a frame lost, the bytes all there",
         "7E8 10 0F 59 02 FF 01 23 45 \r22 08 C1 00 00 2F 04 20 \r23 00 8C \r\r>", false, true},
        {"headers on, a frame repeated",
         "7E8 10 0F 59 02 FF 01 23 45 \r21 08 C1 00 00 2F 04 20 \r21 00 8C \r\r>", false, true},
        {"extended addressing, a frame lost, the bytes all there",
         "612 F1 10 07 59 02 FF 01 23 \rF1 22 45 08 \r\r>", true, true},
        // Frames the adapter flags as damaged.
        {"headers on, a frame flagged",
         "7E8 10 0F 59 02 FF 01 23 45 \r21 08 C1 00 00 2F 04 20 <RX ERROR\r22 00 8C \r\r>", false,
         true},
        {"headers off, a single frame flagged", "59 02 FF 01 23 45 08 <DATA ERROR\r\r>", false,
         true},
        {"extended addressing, a frame flagged",
         "612 F1 10 07 59 02 FF 01 23 \rF1 21 45 08 <RX ERROR\r\r>", true, true},
        // A four-byte identifier after the adapter's words.
        {"29-bit identifier as four bytes after SEARCHING...",
         "SEARCHING...\r18 DA F1 10 10 0A 59 02 FF 01 23 45 \r18 DA F1 10 21 08 C1 00 00 \r\r>",
         false, false},
        {"29-bit identifier as four bytes once after SEARCHING...",
         "SEARCHING...\r18 DA F1 10 10 0A 59 02 FF 01 23 45 \r21 08 C1 00 00 \r\r>", false, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isMultiFrameReplyCutShort(c.reply, c.extended), c.cut) << c.name;
}

}  // namespace
