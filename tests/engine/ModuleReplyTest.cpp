// What a module's reply is, in every transport and display form: an answer, a refusal, a pending or
// busy answer, an answer cut short or damaged, the sensor's words, silence.

#include <gtest/gtest.h>

#include "lib/Decoders/QZEModuleReply.hpp"
#include "lib/Facades/QZEAdapters.hpp"

using namespace qz;

namespace {

using K = QZEReplyKind;
using F = QZEFraming;

QZEAsked ask(F framing, int service, QZERecordLayout records = {},
             std::vector<std::string> from = {}, int positive = -1, QZEDisplayForm display = {}) {
    QZEAsked asked;
    asked.framing = framing;
    asked.service = service;
    asked.positive = positive;
    asked.records = records;
    asked.from = std::move(from);
    asked.display = display;
    return asked;
}

// The same question in a display form the engine set.
QZEAsked shown(QZEAsked asked, std::optional<bool> headers, int identifierDigits = 0) {
    asked.display = {headers, identifierDigits};
    return asked;
}

// A GMLAN module answering from `from`, its unacknowledged frames on the paired identifier.
QZEAsked gmlanFrom(const char* from) {
    QZEAsked asked = ask(F::can, 0xA9, {}, {from}, 0x81, {true, 3});
    asked.pairedFrames = true;
    return asked;
}

// A reply as the engine hands it on: its text and, apart from it, whether it stopped before its
// prompt.
struct Reply {
    Reply(const char* text) : text(text) {}
    Reply(std::string text, bool cutShort = false) : text(std::move(text)), cutShort(cutShort) {}
    std::string text;
    bool cutShort = false;
};

// A reply that stopped before its prompt: the part that came.
Reply stopped(const std::string& part) {
    return {part, true};
}

// The usual questions.
const QZEAsked kUds = ask(F::can, 0x19, QZERecordLayout::uds());
const QZEAsked kFrames = ask(F::can, 0x19);  // framing only
const QZEAsked kUdsFrom7E9 = ask(F::can, 0x19, QZERecordLayout::uds(), {"7E9"});
const QZEAsked kKwpCan = ask(F::can, 0x18, QZERecordLayout::kwp2000());
const QZEAsked kKwpKLine = ask(F::kLine, 0x18, QZERecordLayout::kwp2000(), {"10"});
const QZEAsked kBmwIhka = ask(F::kLine, 0x18, QZERecordLayout::kwp2000(), {"78"});
const QZEAsked kMut = ask(F::kLine, 0x18, QZERecordLayout::kwp2000(), {"28"}, 0x58);
const QZEAsked kToyota = ask(F::can, 0x13, QZERecordLayout::toyota());
const QZEAsked kToyotaKLine = ask(F::kLine, 0x13, {}, {"10"});
const QZEAsked kBehindGateway = ask(F::canExtended, 0x13, QZERecordLayout::toyota(), {"40"});
const QZEAsked kOcc = ask(F::canExtended, 0x13, QZERecordLayout::toyota(), {"5F"});
const QZEAsked kBmwCan = ask(F::canExtended, 0x19, QZERecordLayout::uds(), {"12"});
const QZEAsked kHondaTable = ask(F::kLine, 0x21, {3, -1, 0}, {"12"});
const QZEAsked kGmlan = ask(F::can, 0xA9, {}, {}, 0x81);
// A 29-bit unit asked by its response id, in the display form the engine tells.
const QZEAsked k29BitUnit = ask(F::can, 0x19, QZERecordLayout::uds(), {"18DAF110"}, -1, {true, 8});
const QZEAsked kPwm = ask(F::j1850, 0x13, {}, {"28"});
const QZEAsked kErase = ask(F::kLine, 0xFC, {}, {}, QZEAsked::kAnyByte);
const QZEAsked kTp2 = ask(F::message, 0x18, QZERecordLayout::kwp2000());
// The J1850 PWM read: "<response>", then (A, B) pairs.
const QZEAsked kPwmPairs = ask(F::j1850, 0x13, {1, -1, 2}, {"58"});
// A Toyota K-line list with its count; the Chrysler J1850 answer, whose unit without faults
// answers "53 00 00"; GM Class 2 lines of (A, B, status).
const QZEAsked kToyotaKLineCounted =
    ask(F::kLine, 0x13, QZERecordLayout::toyotaKLine(), {"10"}, -1, {true, 0});
const QZEAsked kChryslerAcm = ask(F::j1850, 0x13, {1, -1, 2, 1}, {}, -1, {false, 0});
const QZEAsked kGmClass2 = ask(F::j1850, 0x19, {1, -1, 3}, {}, -1, {false, 0});
// A VW TP2.0 channel's set-up: "<destination> D0 <tester's id> <module's id> <type>", one raw
// frame on the module's call-up identifier.
const QZEAsked kTp2SetUp = ask(F::message, 0xC0, {7, -1, 0}, {"201"}, QZEAsked::kAnyByte);

std::string joined(const std::vector<QZEMessageBytes>& messages) {
    std::string out;
    for (const auto& m : messages) {
        if (!out.empty()) out += "|";
        for (size_t i = 0; i < m.size(); ++i) out += (i ? " " : "") + m[i];
    }
    return out;
}

TEST(ModuleReplyTest, EveryReplyIsOneKindInEveryFormOnEveryTransport) {
    struct Case {
        const char* name;
        Reply reply;
        QZEAsked asked;
        K kind;
        const char* messages = nullptr;  // the messages given, "|" between them; null: unchecked
        int code = -1;
    };
    const std::vector<Case> cases = {
        // Answers, headers off and on, once or on every line, 11 and 29-bit.
        {"UDS single frame, headers off", "59 02 FF 01 23 45 08 \r\r>", kUds, K::answer,
         "59 02 FF 01 23 45 08"},
        {"UDS multi-frame, headers off",
         "00F\r0: 59 02 FF 01 23 45 \r1: 08 C1 00 00 2F 04 20 \r2: 00 8C \r\r>", kUds, K::answer,
         "59 02 FF 01 23 45 08 C1 00 00 2F 04 20 00 8C"},
        {"UDS multi-frame, headers off, printed without blanks",
         "00F\r0:5902FF012345\r1:08C100002F0420\r2:008C\r\r>", kUds, K::answer,
         "59 02 FF 01 23 45 08 C1 00 00 2F 04 20 00 8C"},
        {"UDS multi-frame, headers on",
         "7E8 10 0F 59 02 FF 01 23 45 \r21 08 C1 00 00 2F 04 20 \r22 00 8C \r\r>", kUds, K::answer},
        {"padding after the last frame",
         "7E8 10 0F 59 02 FF 01 23 45 \r21 08 C1 00 00 2F 04 20 \r22 00 8C AA AA AA AA AA \r\r>",
         kUds, K::answer, "59 02 FF 01 23 45 08 C1 00 00 2F 04 20 00 8C"},
        {"an identifier on every line",
         "7E8 10 0F 59 02 FF 01 23 45 \r7E8 21 08 C1 00 00 2F 04 20 \r7E8 22 00 8C \r\r>", kUds,
         K::answer},
        {"29-bit identifier as four bytes",
         "18 DA F1 10 10 0A 59 02 FF 01 23 45 \r18 DA F1 10 21 08 C1 00 00 \r\r>", kFrames,
         K::answer, "59 02 FF 01 23 45 08 C1 00 00"},
        {"29-bit identifier as four bytes, the module's own",
         "18 DA F1 10 10 0B 59 02 FF 01 23 45 \r18 DA F1 10 21 08 C1 00 00 2F \r\r>", k29BitUnit,
         K::answer, "59 02 FF 01 23 45 08 C1 00 00 2F"},
        {"29-bit identifier as four bytes once",
         "18 DA F1 10 10 0A 59 02 FF 01 23 45 \r21 08 C1 00 00 \r\r>", kFrames, K::answer},
        {"29-bit identifier 17 FC as four bytes once",
         "17 FC 00 7E 10 0A 59 02 FF 01 23 45 \r21 08 C1 00 00 \r\r>", kFrames, K::answer},
        {"after SEARCHING...",
         "SEARCHING...\r18 DA F1 10 10 0A 59 02 FF 01 23 45 \r21 08 C1 00 00 \r\r>", kFrames,
         K::answer},
        {"two modules interleaved",
         "7E8 10 0A 59 02 FF 01 23 45 \r7E9 03 59 02 FF \r7E8 21 08 C1 00 00 \r\r>", kFrames,
         K::answer},
        {"no codes", "59 02 FF \r\r>", kUds, K::answer, "59 02 FF"},
        {"a pending answer, then the answer", "7F 19 78 \r59 02 FF 01 23 45 08 \r\r>", kUds,
         K::answer, "59 02 FF 01 23 45 08"},
        {"NO DATA beside the answer", "59 02 FF \rNO DATA\r\r>", kUds, K::answer},
        // A 7F is a negative answer only where a message begins.
        {"a TCM code with 7F and 78 in its first bytes", "7E9 07 59 02 7F 17 78 00 2F \r\r>", kUds,
         K::answer, "59 02 7F 17 78 00 2F"},
        {"an availability mask 7F", "7E9 07 59 02 7F 00 00 00 00 \r\r>", kUds, K::answer},
        {"a mask 7F and a code byte 23", "59 02 7F E0 23 00 08 \r\r>", kUds, K::answer},
        {"a checksum 7F on K-line", "85 F1 10 58 01 01 23 20 7F \r\r>", kKwpKLine, K::answer,
         "58 01 01 23 20"},
        {"the gateway's answer with a code byte 7F", "F1 06 53 02 7F 19 96 50 \r\r>",
         kBehindGateway, K::answer, "53 02 7F 19 96 50"},
        {"Toyota data with a 7F code byte", "53 01 7F 13 \r\r>", kToyota, K::answer},
        // Refusals, whole, bare or cut, behind any header.
        {"a refusal", "7F 19 11 \r\r>", kUds, K::refusal, nullptr, 0x11},
        {"a refusal in lower case", "7f 19 31 \r\r>", kUds, K::refusal, nullptr, 0x31},
        {"a bare 7F", "7F \r\r>", kUds, K::refusal},
        {"a refusal without its code", "7F 19 \r\r>", kUds, K::refusal},
        {"a refusal cut in its service", "7F 1\r>", kUds, K::refusal},
        {"a refusal under an identifier", "7E8 03 7F 19 22 \r\r>", kUds, K::refusal, nullptr, 0x22},
        {"a refusal under four identifier bytes", "18 DA F1 10 03 7F 19 22 \r\r>", kUds,
         K::refusal},
        {"a refusal after SEARCHING...", "SEARCHING...\r18 DA F1 10 03 7F 19 22 \r\r>", kUds,
         K::refusal},
        {"a cut refusal under an identifier", "7E8 02 7F 19 \r\r>", kUds, K::refusal},
        {"K-line refusal cut short", "83 F1 10 7F 18", kKwpKLine, K::refusal},
        {"a refusal after BUS INIT", "BUS INIT: ...OK\r83 F1 12 7F 21 12 2F \r\r>", kHondaTable,
         K::refusal},
        {"a bare 7F behind the body gateway", "40 01 7F \r\r>", kBehindGateway, K::refusal},
        {"a cut refusal behind the body gateway", "40 02 7F 13 \r\r>", kBehindGateway, K::refusal},
        {"a cut refusal on the MUT line", "80 F1 28 01 7F 19 \r\r>", kMut, K::refusal},
        {"a pending answer, then a refusal", "7F 19 78\r7F 19 22", kUds, K::refusal},
        {"a refusal and the sensor's words", "7F 19 22 \rCAN ERROR\r\r>", kUds, K::refusal},
        {"GMLAN refusal as a raw frame", "7EA 7F A9 12 \r\r>", kGmlan, K::refusal},
        {"a refused erase", "7F FC \r\r>", kErase, K::refusal},
        {"another request's pending answer", "7F 22 78 \r\r>", kUds, K::damaged, ""},
        // Pending and busy.
        {"pending", "7F 19 78 \r\r>", kUds, K::pending, nullptr, 0x78},
        {"pending twice", "7F 19 78 \r7F 19 78 \r\r>", kUds, K::pending},
        {"pending under an identifier", "7E8 03 7F 19 78 \r\r>", kUds, K::pending},
        {"pending on K-line with headers", "83 F1 10 7F 18 78 9B \r\r>", kKwpKLine, K::pending},
        {"pending after BUS INIT", "BUS INIT: ...OK\r83 F1 10 7F 18 78 9B \r\r>", kKwpKLine,
         K::pending},
        {"GMLAN pending", "7EA 03 7F A9 78 \r\r>", kGmlan, K::pending},
        {"busy", "7F 19 21 \r\r>", kUds, K::busy, nullptr, 0x21},
        {"busy after SEARCHING...", "SEARCHING...\r7F 19 21 \r\r>", kUds, K::busy},
        {"a delay not expired", "7F 19 37 \r\r>", kUds, K::busy},
        // Cut short: frames lost, messages shorter than their length, record lists cut.
        {"headers off, last frame lost",
         "00F\r0: 59 02 FF 01 23 45 \r1: 08 C1 00 00 2F 04 20 \r\r>", kUds, K::cutShort,
         "59 02 FF 01 23 45 08 C1 00 00 2F 04 20"},
        {"headers off, a frame lost", "00F\r0: 59 02 FF 01 23 45 \r2: 00 8C \r\r>", kUds,
         K::cutShort},
        {"headers off without blanks, a frame lost", "00F\r0:5902FF012345\r2:008C\r\r>", kUds,
         K::cutShort},
        {"headers off without blanks, a frame cut in a byte",
         "00F\r0:5902FF012345\r1:08C100002F042\r2:008C\r\r>", kUds, K::cutShort},
        {"headers off, first frame lost", "00F\r1: 08 C1 00 00 2F 04 20 \r2: 00 8C \r\r>", kUds,
         K::cutShort},
        {"headers off, length line lost", "1: 08 C1 00 00 2F 04 20 \r2: 00 8C \r\r>", kUds,
         K::cutShort},
        {"headers off, the length line lost before the first frame",
         "0: 59 02 FF 01 23 45 \r1: 08 C1 00 00 2F 04 20 \r2: 00 8C \r\r>", kUds, K::cutShort,
         "59 02 FF 01 23 45 08 C1 00 00 2F 04 20 00 8C"},
        {"headers off, a frame short", "00F\r0: 59 02 FF 01 23 45 \r1: 08 C1 00 \r2: 00 8C \r\r>",
         kUds, K::cutShort},
        {"headers off, a frame lost, the bytes all there",
         "00F\r0: 59 02 FF 01 23 45 \r2: 08 C1 00 00 2F 04 20 \r3: 00 8C \r\r>", kUds, K::cutShort},
        {"headers on, a frame lost", "7E8 10 0F 59 02 FF 01 23 45 \r22 00 8C \r\r>", kUds,
         K::cutShort, "59 02 FF 01 23 45"},
        {"headers on, a frame repeated",
         "7E8 10 0F 59 02 FF 01 23 45 \r21 08 C1 00 00 2F 04 20 \r21 00 8C \r\r>", kUds,
         K::cutShort},
        {"headers on, consecutive frames only", "7E8 21 08 C1 00 00 2F 04 20 \r22 00 8C \r\r>",
         kUds, K::cutShort},
        {"29-bit, cut short", "18DAF110 10 0A 59 02 FF 01 23 45 \r\r>", kUds, K::cutShort},
        {"a long message's length", "7E8 11 00 59 02 FF 01 23 45 \r21 00 \r\r>", kUds, K::cutShort},
        {"a first frame without its length", "7E8 10 \r\r>", kUds, K::cutShort},
        {"a single frame shorter than its length", "7E8 03 7\r\r>", kUds, K::cutShort},
        {"a single frame missing a byte", "7E8 04 59 02 FF \r\r>", kUds, K::cutShort},
        {"a UDS record cut", "59 02 FF 51 01 13 \r\r>", kUds, K::cutShort, "59 02 FF 51 01 13"},
        {"a UDS list without its mask", "59 02 \r\r>", kUds, K::cutShort},
        {"a K-line message shorter than its format byte", "83 F1 10 7\r\r>", kKwpKLine,
         K::cutShort},
        {"a K-line header alone", "88 F1 10 \r\r>", kKwpKLine, K::cutShort},
        {"a Honda table cut in its last byte", "83 F1 12 61 4\r\r>", kHondaTable, K::cutShort},
        {"a length byte lost", "80 F1 28 \r\r>", kMut, K::cutShort},
        {"a KWP list announcing more codes", "58 02 9E 10 20 \r\r>", kBmwIhka, K::damaged, ""},
        {"a KWP record cut", "58 01 9E 10 \r\r>", kBmwIhka, K::damaged, ""},
        {"a KWP record stopped inside", stopped("58 01 9E 10"), kBmwIhka, K::cutShort,
         "58 01 9E 10"},
        {"a KWP list whole", "58 01 9E 10 20 \r\r>", kBmwIhka, K::answer},
        {"a KWP list without codes", "58 00 \r\r>", kKwpCan, K::answer},
        {"extended addressing, cut short", "612 F1 10 07 59 02 FF 01 23 \r\r>", kBmwCan,
         K::cutShort},
        {"extended addressing, a frame lost, the bytes all there",
         "612 F1 10 07 59 02 FF 01 23 \rF1 22 45 08 \r\r>", kBmwCan, K::cutShort},
        {"extended addressing, a frame without its data", "612 F1 03 \r\r>", kBmwCan, K::cutShort},
        {"extended addressing, whole", "612 F1 10 07 59 02 FF 01 23 \rF1 21 45 08 \r\r>", kBmwCan,
         K::answer, "59 02 FF 01 23 45 08"},
        {"extended addressing, headers off", "F1 10 07 59 02 FF 01 23 \rF1 21 45 08 \r\r>", kBmwCan,
         K::answer},
        {"extended addressing, another module's answer to the tester", "618 F1 03 59 02 FF \r\r>",
         kBmwCan, K::elsewhere},
        {"extended addressing, another module's on every line",
         "618 F1 10 07 59 02 FF 01 23 \r618 F1 21 45 08 \r\r>", kBmwCan, K::elsewhere},
        {"extended addressing, its own beside another's",
         "618 F1 03 7F 19 11 \r612 F1 10 07 59 02 FF 01 23 \r612 F1 21 45 08 \r\r>", kBmwCan,
         K::answer, "59 02 FF 01 23 45 08"},
        {"a Toyota list announcing more codes", "53 02 11 35 \r\r>", kToyota, K::cutShort,
         "53 02 11 35"},
        {"TP2.0 blocks whole", "58 02 41 2C 20 45 11 60", kTp2, K::answer},
        {"TP2.0 list cut", "58 02 41 2C 20 45", kTp2, K::cutShort},
        // Damaged.
        {"a frame flagged",
         "7E8 10 0F 59 02 FF 01 23 45 \r21 08 C1 00 00 2F 04 20 <RX ERROR\r22 00 8C \r\r>", kUds,
         K::damaged},
        {"a single frame flagged", "59 02 FF 01 23 45 08 <DATA ERROR\r\r>", kUds, K::damaged},
        {"a K-line line flagged", "83 F1 10 58 01 <RX ERROR\r\r>", kKwpKLine, K::damaged},
        {"a byte beside the flag", "<RX ERROR 59\r>", kUds, K::damaged},
        {"an answer and a flagged line", "53 02 11 35 16 56 \r53 01 <RX ERROR\r\r>", kToyota,
         K::damaged, "53 02 11 35 16 56"},
        {"the adapter's error words beside data", "59 02 FF 01 23 45 08 \rBUFFER FULL\r\r>", kUds,
         K::damaged},
        // The sensor's words, junk, silence.
        {"NO DATA", "NO DATA\r>", kUds, K::sensorWord},
        {"NO DATA without its blank", "NODATA\r>", kUds, K::sensorWord},
        {"not understood", "?\r>", kUds, K::sensorWord},
        {"a bus error", "CAN ERROR\r\r>", kUds, K::sensorWord},
        {"K-line init failed", "BUS INIT: ...ERROR\r\r>", kKwpKLine, K::sensorWord},
        {"buffer full", "BUFFER FULL\r>", kUds, K::sensorWord},
        {"stopped", "STOPPED\r>", kUds, K::sensorWord},
        {"junk", "59 0? F#\r\r>", kUds, K::sensorWord},
        {"a stale answer to another request", "41 0D 00 \r\r>", kUds, K::damaged, ""},
        {"a single frame's PCI byte shown without the identifier", "03 7F 19 78 \r\r>", kUds,
         K::pending},
        {"a single frame's PCI byte before a whole answer", "05 59 02 FF 00 00 \r\r>", kFrames,
         K::answer, "59 02 FF 00 00"},
        {"a lone byte 03 is no PCI byte", "03 \r\r>", kUds, K::damaged, ""},
        {"nothing", "\r>", kUds, K::silence},
        {"the prompt alone", ">", kUds, K::silence},
        {"only the notice", "SEARCHING...\r\r>", kUds, K::silence},
        // The answer belongs to the module asked.
        {"another module's answer", "7E8 03 59 02 FF \r\r>", kUdsFrom7E9, K::elsewhere},
        {"its own beside another's", "7E8 03 59 02 FF \r7E9 07 59 02 FF 01 23 45 08 \r\r>",
         kUdsFrom7E9, K::answer, "59 02 FF 01 23 45 08"},
        {"another module's refusal", "7E8 03 7F 19 22 \r7E9 03 59 02 FF \r\r>", kUdsFrom7E9,
         K::answer},
        {"TPMS's late answer while OCC is asked", "58 06 53 02 C1 00 C1 21 \r\r>", kOcc,
         K::elsewhere},
        {"OCC's own answer", "5F 04 53 01 B1 23 \r\r>", kOcc, K::answer},
        {"another K-line module's answer", "82 F1 28 58 00 F3 \r\r>", kKwpKLine, K::elsewhere},
        {"the module's K-line answer", "82 F1 10 58 00 DB \r\r>", kKwpKLine, K::answer},
        {"Toyota K-line headed answer", "83 F1 10 53 52 49 FB \r\r>", kToyotaKLine, K::answer,
         "53 52 49"},
        {"ISO 9141 headers", "48 6B 10 53 52 49 1F \r\r>", kToyotaKLine, K::answer, "53 52 49"},
        {"ISO 9141 headers from another module", "48 6B 28 53 52 49 37 \r\r>", kToyotaKLine,
         K::elsewhere},
        {"J1850 headed answer from another module", "6C F1 40 53 51 55 00 00 C9 \r\r>", kPwm,
         K::elsewhere},
        {"J1850 headed answer", "6C F1 28 53 51 55 00 00 5F \r\r>", kPwm, K::answer,
         "53 51 55 00 00"},
        {"J1850 headers off", "53 51 55 00 00 \r\r>", kPwm, K::answer},
        // GMLAN frames, the MUT erase.
        {"GMLAN frames", "7EA 81 11 01 00 92 00 00 00 \r81 00 00 00 FF 00 00 00 \r\r>", kGmlan,
         K::answer},
        {"GMLAN pending and the data", "7EA 7F A9 78 \r7EA 81 11 01 00 92 00 00 00 \r\r>", kGmlan,
         K::answer},
        {"an erase answered by its byte", "00 \r\r>", kErase, K::answer},
        {"an erase answered after pending", "7F FC 78 \r00 \r\r>", kErase, K::answer},
        // Another unit's frame flagged or cut beside a refusal: it may have been the answer.
        {"a refusal beside another unit's flagged frame",
         "7E8 10 0F <RX ERROR\r7E9 03 7F 19 22 \r\r>", kFrames, K::damaged},
        {"a refusal beside another unit's cut frame",
         "7E8 10 0F 59 02 FF 01 23 45 \r7E9 03 7F 19 22 \r\r>", kFrames, K::cutShort},
        {"a response id written with a leading zero", "7E8 03 59 02 FF \r7E9 03 59 02 FF \r\r>",
         ask(F::can, 0x19, QZERecordLayout::uds(), {"07E9"}), K::answer, "59 02 FF"},
        // GMLAN: the module's own frames come on its paired 5xx identifier too.
        {"GMLAN frames on the paired identifier", "5E8 81 11 01 00 92 00 00 00 \r\r>",
         gmlanFrom("7E8"), K::answer, "81 11 01 00 92 00 00 00"},
        {"GMLAN frames of the BCM on its paired identifier", "541 81 90 00 00 80 00 00 00 \r\r>",
         gmlanFrom("641"), K::answer},
        {"GMLAN frames on another unit's identifier", "5EA 81 11 01 00 92 00 00 00 \r\r>",
         gmlanFrom("7E8"), K::elsewhere},
        {"GMLAN refusal of another unit", "7EA 03 7F A9 12 \r\r>", gmlanFrom("7E8"), K::elsewhere},
        // The module's own bytes that cannot be read, shown from its address beside its list:
        // another answer's rest glued on, never a list whole.
        {"GMLAN list beside a damaged refusal of its own",
         "7EA 7F A81 01 71 00 0A 00 00 00 \r81 00 00 00 FF 00 00 00 \r\r>", gmlanFrom("7EA"),
         K::damaged},
        {"GMLAN list beside bytes of its own that answer nothing asked",
         "7E8 81 11 01 00 92 00 00 00 \r7E8 03 7F 22 31 \r\r>", gmlanFrom("7E8"), K::damaged},
        // A token that is no byte inside an answer, in either display form and on K-line.
        {"a garbled byte in an answer", "59 02 FF 56 1G 00 08 \r\r>", kUds, K::damaged},
        {"junk after a whole record", "59 02 FF 56 11 00 08 ZZ \r\r>", kUds, K::damaged},
        {"a garbled byte in an answer, headers on", "7E8 07 59 02 FF 56 1G 00 08 \r\r>", kUds,
         K::damaged},
        {"junk after a whole record, headers on", "7E8 07 59 02 FF 56 11 00 08 ZZ \r\r>",
         shown(kUds, true, 3), K::damaged},
        {"a garbled byte in a K-line answer", "85 F1 10 58 01 11 6G A0 F6 \r\r>", kKwpKLine,
         K::damaged},
        {"the sensor's words after a byte", "FB ERROR\r\r>", kUds, K::sensorWord},
        {"a garbled byte right after the response byte", "59 0G FF 56 11 00 08 \r\r>",
         shown(kUds, false), K::damaged},
        {"a garbled byte in an answer printed without blanks", "5902FF561G0008\r\r>",
         shown(kUds, false), K::damaged},
        {"junk after a whole record printed without blanks, headers on",
         "7E8075902FF56110008ZZ\r\r>", shown(kUds, true, 3), K::damaged},
        {"a garbled byte in a K-line answer printed without blanks", "85F1105801116GA0F6\r\r>",
         shown(kKwpKLine, true), K::damaged},
        {"a flag after a garbled line printed without blanks", "7E8075902FF561G0008 <RX ERROR\r\r>",
         shown(kUds, true, 3), K::damaged},
        // The display form told: an odd count of digits is a byte cut in half.
        {"a line without blanks cut inside a byte, headers off", "5304520152415249533\r\r>",
         shown(kToyota, false), K::cutShort},
        {"a K-line line without blanks cut inside a byte", "84F12858015101C\r\r>",
         shown(kMut, true), K::cutShort},
        {"a refusal printed without blanks", "7E8037F1922\r\r>", shown(kUds, true, 3), K::refusal,
         nullptr, 0x22},
        {"an answer printed without blanks, 29-bit", "18DAF110037F1922\r\r>", shown(kUds, true, 8),
         K::refusal},
        {"a line without blanks cut after its identifier", "7E8037F192\r\r>", shown(kUds, true, 3),
         K::refusal},
        {"a multi-frame answer without blanks, headers on",
         "7E8100F5902FF012345\r2108C100002F0420\r22008C\r\r>", shown(kUds, true, 3), K::answer,
         "59 02 FF 01 23 45 08 C1 00 00 2F 04 20 00 8C"},
        {"a multi-frame answer without blanks, a line cut",
         "7E8100F5902FF012345\r7E82108C100002F042\r7E822008C\r\r>", shown(kUds, true, 3),
         K::cutShort, "59 02 FF 01 23 45 08 C1 00 00 2F 04"},
        {"headers off: an identifier is no byte", "7E8 03 59 02 FF \r\r>", shown(kUds, false),
         K::cutShort},
        {"a padded frame with its PCI byte, headers off", "03 7F 13 22 AA AA AA AA \r\r>",
         shown(kToyota, false), K::refusal, nullptr, 0x22},
        {"a padded single frame, headers off", "06 53 02 11 35 16 56 AA \r\r>",
         shown(kToyota, false), K::answer, "53 02 11 35 16 56"},
        {"K-line, headers on: a message without its checksum", "85 F1 10 58 01 01 23 20 \r\r>",
         shown(kKwpKLine, true), K::cutShort},
        {"K-line, headers off: the bytes are the message", "58 01 01 23 20 \r\r>",
         shown(kKwpKLine, false), K::answer, "58 01 01 23 20"},
        {"ISO 9141 headers, told", "48 6B 10 53 52 49 1F \r\r>", shown(kToyotaKLine, true),
         K::answer, "53 52 49"},
        {"J1850, headers on: header and CRC taken off", "6C F1 28 53 51 55 00 00 5F \r\r>",
         shown(kPwm, true), K::answer, "53 51 55 00 00"},
        // A flag damages the message it stands in, not an answer whole beside it.
        {"a lone flag before a whole answer, headers off",
         "<RX ERROR\r008\r0: 58 02 D6 A8 40 AA \r1: 93 E0 \r\r>", shown(kKwpCan, false), K::answer,
         "58 02 D6 A8 40 AA 93 E0"},
        {"a flagged pending answer before a whole answer",
         "7F 18 78 <RX ERROR\r008\r0: 58 02 D6 A8 40 AA \r1: 93 E0 \r\r>", shown(kKwpCan, false),
         K::answer, "58 02 D6 A8 40 AA 93 E0"},
        {"a flagged pending answer alone", "7F 18 78 <RX ERROR\r\r>", kKwpCan, K::damaged},
        {"another unit's flagged frame beside the answer",
         "7E8 03 59 02 FF \r7E9 07 59 02 FF 01 <RX ERROR\r\r>", ask(F::can, 0x19, {}, {"7E8"}),
         K::answer},
        // A reply that stopped before its prompt: what came of it, never silence nor a whole
        // answer.
        {"stopped after a whole answer", stopped("59 02 FF 01 23 45 08 \r"), kUds, K::cutShort,
         "59 02 FF 01 23 45 08"},
        {"stopped inside an answer", stopped("00F\r0: 59 02 FF 01 23 45 \r1: 08 C1 0"), kUds,
         K::cutShort, "59 02 FF 01 23 45 08 C1"},
        {"stopped after a pending answer", stopped("7F 19 78 \r"), kUds, K::pending},
        {"stopped after a busy answer", stopped("7E8 03 7F 19 21 \r"), kUds, K::busy},
        {"stopped after a refusal", stopped("7F 19 22 \r"), kUds, K::cutShort},
        // Nothing of the module before the stop (a notice, the echo the module took off): what it
        // answered is not known.
        {"stopped after the sensor's notice", stopped("SEARCHING...\r"), kUds, K::cutShort, ""},
        {"stopped before anything came", stopped(""), kUds, K::cutShort, ""},
        {"stopped after another address's answer", stopped("7E8 03 59 02 FF \r"), kUdsFrom7E9,
         K::elsewhere},
        {"a failed exchange", QZVehicleCommunicationProtocol::kNoDataReply, kUds, K::sensorWord},
        // J1850 headers off cut inside a code; a VW TP2.0 channel's set-up cut short.
        {"J1850 pairs cut inside a code", "53 90 \r\r>", kPwmPairs, K::cutShort},
        {"J1850 pairs whole", "53 90 01 \r\r>", kPwmPairs, K::answer},
        {"a TP2.0 set-up answered", "201 00 D0 00 03 40 07 01 \r\r>", kTp2SetUp, K::answer},
        {"a TP2.0 set-up cut short", "201 00 D0 00 03 40 \r\r>", kTp2SetUp, K::cutShort},
        {"a TP2.0 set-up without blanks", "20100D00003400701\r\r>", shown(kTp2SetUp, true, 3),
         K::answer, "00 D0 00 03 40 07 01"},
        // A reply that holds the module's bytes is never nothing. Stopped in its first bytes,
        // after the identifier, inside a header's source byte, after a header and a data byte:
        {"stopped after its identifier", stopped("7E8 "), shown(kUds, true, 3), K::cutShort, ""},
        {"an identifier alone", "7E8 \r\r>", shown(kUds, true, 3), K::cutShort, ""},
        {"a GMLAN read stopped after its identifier", stopped("7E8 "), gmlanFrom("7E8"),
         K::cutShort, ""},
        {"a 29-bit identifier alone", stopped("18 DA F1 10 "), shown(kUds, true, 8), K::cutShort,
         ""},
        // Stopped inside an identifier of one token: nothing tells whose the line is.
        {"a 29-bit identifier stopped after 7 of its digits", stopped("18DAF11"), k29BitUnit,
         K::cutShort, ""},
        {"a 29-bit identifier stopped after 3 of its digits", stopped("18D"), k29BitUnit,
         K::cutShort, ""},
        {"a 29-bit identifier stopped after 5 of its digits", stopped("18DAF"), k29BitUnit,
         K::cutShort, ""},
        {"a 29-bit identifier stopped whole", stopped("18DAF110"), k29BitUnit, K::cutShort, ""},
        // Nothing of the module yet: whether it would have answered is not known.
        {"another unit's 29-bit identifier stopped whole", stopped("18DAF118"), k29BitUnit,
         K::cutShort, ""},
        {"an extended-addressing identifier stopped in its digits", stopped("61"),
         shown(kBmwCan, true, 3), K::cutShort, ""},
        {"stopped inside a K-line header's source byte", stopped("84 F1 1"), shown(kKwpKLine, true),
         K::cutShort, ""},
        {"a K-line header cut in its source byte without blanks", "84F11\r\r>",
         shown(kKwpKLine, true), K::cutShort, ""},
        {"a functional K-line header cut in its source byte", "C4 F1 1\r\r>",
         shown(kKwpKLine, true), K::cutShort, ""},
        {"stopped after an ISO 9141 header and a data byte", stopped("48 6B 10 58 "),
         shown(kKwpKLine, true), K::cutShort, "58"},
        {"Honda AT stopped after its header and a data byte", stopped("48 6B 12 61 "),
         shown(kHondaTable, true), K::cutShort, "61"},
        {"an ISO 9141 header and one byte", "48 6B 10 58 \r\r>", shown(kKwpKLine, true),
         K::cutShort, ""},
        {"stopped after an ISO 9141 header", stopped("48 6B 10"), shown(kKwpKLine, true),
         K::cutShort, ""},
        {"three digits without blanks on K-line", "580\r\r>", shown(kKwpKLine, true), K::cutShort,
         "58"},
        {"the same spaced", "58 0\r\r>", shown(kKwpKLine, true), K::cutShort, "58"},
        {"three digits without blanks on J1850", "530\r\r>", shown(kPwmPairs, false), K::cutShort,
         "53"},
        // A K-line answer printed without its header while headers are on: read when whole.
        {"a K-line answer without its header, headers on", "58 01 11 66 A0 \r\r>",
         shown(kKwpKLine, true), K::answer, "58 01 11 66 A0"},
        {"the same garbled", "58 01 11 6G A0 \r\r>", shown(kKwpKLine, true), K::damaged, ""},
        {"the same, a count its length does not give", "58 02 11 66 A0 \r\r>",
         shown(kKwpKLine, true), K::damaged, ""},
        {"the same stopped inside its record", stopped("58 01 11 66"), shown(kKwpKLine, true),
         K::cutShort, "58 01 11 66"},
        // Bytes answering nothing asked: a neighbour's late bytes behind the module's own 7F.
        {"a refusal of a service not asked", "7A9 03 7F 0A 05 21 10 \r\r>",
         shown(ask(F::can, 0x22, {}, {"7A9"}), true, 3), K::damaged, ""},
        {"another service's positive answer", "7E8 04 62 F1 00 01 \r\r>", shown(kUds, true, 3),
         K::damaged, ""},
        {"a flow-control frame alone", "7E8 30 00 00 \r\r>", shown(kUds, true, 3), K::damaged, ""},
        // The module's first bytes run into a late rest's NO DATA: never the sensor's words.
        {"the module's bytes running into NO DATA", "765 0NO DATA\r\r>",
         shown(ask(F::can, 0x19, QZERecordLayout::uds(), {"765"}), true, 3), K::damaged, ""},
        // Longer than its framing allows: the late rest of one answer glued to the next.
        {"a CAN frame of nine bytes", "7E8 10 0B 59 02 FF 01 71  19 78 >",
         shown(ask(F::can, 0x19, QZERecordLayout::uds(), {"7E8"}), true, 3), K::damaged, ""},
        {"a single frame of nine bytes", "7E8 03 59 02 FF 00 00 00 00 00 \r\r>",
         shown(kUds, true, 3), K::damaged, ""},
        {"a headers-off first frame of seven bytes", "00B\r0: 59 02 FF 01 71 19 78 \r\r>",
         shown(kUds, false), K::damaged, ""},
        {"a K-line message longer than its length", "82 F1 10 58 00 DB 44 \r\r>",
         shown(kKwpKLine, true), K::damaged, ""},
        // A last frame holds the message's bytes, padded to a whole frame or not: bytes past its
        // end in a shorter one are another answer's first frame run into this one's last.
        {"a last frame holding bytes past the message's end",
         "7E8 10 08 58 02 2C 3B E0 25 \r7E8 21 B3 60 91 EA 20 \r\r>", shown(kKwpCan, true, 3),
         K::damaged, "58 02 2C 3B E0 25"},
        {"the same padded to a whole frame",
         "7E8 10 08 58 02 2C 3B E0 25 \r7E8 21 B3 60 AA AA AA AA AA \r\r>", shown(kKwpCan, true, 3),
         K::answer, "58 02 2C 3B E0 25 B3 60"},
        {"the same, headers off", "008\r0: 58 02 2C 3B E0 25 \r1: B3 60 91 EA 20 \r\r>",
         shown(kKwpCan, false), K::damaged, "58 02 2C 3B E0 25"},
        {"the same, extended addressing",
         "612 F1 10 0F 59 02 FF 01 23 \rF1 21 45 08 C1 00 00 2F \rF1 22 04 20 00 8C 19 \r\r>",
         kBmwCan, K::damaged, "59 02 FF 01 23 45 08 C1 00 00 2F"},
        {"the same, extended addressing, padded",
         "612 F1 10 0F 59 02 FF 01 23 \rF1 21 45 08 C1 00 00 2F \rF1 22 04 20 00 8C AA AA \r\r>",
         kBmwCan, K::answer, "59 02 FF 01 23 45 08 C1 00 00 2F 04 20 00 8C"},
        // Record counts and the records a whole answer holds at least. On K-line only a Toyota
        // message of even length holds a count, whatever its first code byte.
        {"a Toyota K-line message of odd length holds no count",
         "87 F1 10 53 03 00 12 00 25 11 26 \r\r>", kToyotaKLineCounted, K::answer,
         "53 03 00 12 00 25 11"},
        {"a Toyota K-line list whole", "86 F1 10 53 02 11 35 16 56 8E \r\r>", kToyotaKLineCounted,
         K::answer, "53 02 11 35 16 56"},
        {"a Toyota K-line P01xx code alone", "83 F1 10 53 01 71 D1 \r\r>", kToyotaKLineCounted,
         K::answer, "53 01 71"},
        {"the misfire triple", "87 F1 10 53 03 00 03 01 03 02 8C \r\r>", kToyotaKLineCounted,
         K::answer, "53 03 00 03 01 03 02"},
        {"a P01xx code alone, headers off", "53 01 71 \r\r>", shown(kToyotaKLineCounted, false),
         K::answer, "53 01 71"},
        {"the misfire triple, headers off", "53 03 00 03 01 03 02 \r\r>",
         shown(kToyotaKLineCounted, false), K::answer, "53 03 00 03 01 03 02"},
        {"a Toyota K-line count above its pairs", "86 F1 10 53 03 01 23 04 56 0E \r\r>",
         kToyotaKLineCounted, K::damaged, ""},
        {"a Toyota K-line message shorter than its length byte", "87 F1 10 53 03 00 03 01 \r\r>",
         kToyotaKLineCounted, K::cutShort, "53 03 00 03 01"},
        {"a Toyota K-line message the relay cut", stopped("53 03 00 03 01"),
         shown(kToyotaKLineCounted, false), K::cutShort, "53 03 00 03 01"},
        // On CAN a count of none reads one pair; a count above the pairs is a message cut at its
        // end, its whole pairs kept.
        {"a Toyota count of none and one pair", "53 00 C2 93 \r\r>", kToyota, K::answer,
         "53 00 C2 93"},
        {"a Toyota count above the pairs present", "53 02 C2 93 \r\r>", kToyota, K::cutShort,
         "53 02 C2 93"},
        {"a Toyota count below the pairs present", "53 01 C2 93 11 22 \r\r>", kToyota, K::damaged,
         ""},
        {"a Toyota list without codes", "53 00 \r\r>", kToyota, K::answer, "53 00"},
        // Pairs past those the count reads that are all 00 are filler, no code.
        {"a Toyota count of none padded with empty pairs", "53 00 00 00 00 00 \r\r>", kToyota,
         K::answer, "53 00 00 00 00 00"},
        {"a Toyota K-line count of none and a filler pair", "84 F1 10 53 00 00 00 D8 \r\r>",
         kToyotaKLineCounted, K::answer, "53 00 00 00"},
        {"a Toyota K-line count of one and a filler pair", "86 F1 10 53 01 01 23 00 00 ED \r\r>",
         kToyotaKLineCounted, K::answer, "53 01 01 23 00 00"},
        {"a Toyota K-line count below its pairs", "86 F1 10 53 01 01 23 04 56 0E \r\r>",
         kToyotaKLineCounted, K::damaged, ""},
        {"a bare response byte where no faults read 53 00 00", "53 \r\r>", kChryslerAcm,
         K::cutShort, "53"},
        {"no faults", "53 00 00 \r\r>", kChryslerAcm, K::answer, "53 00 00"},
        {"GM Class 2 lines", "59 01 71 82 \r59 13 80 10 \r\r>", kGmClass2, K::answer,
         "59 01 71 82|59 13 80 10"},
        {"GM Class 2 lines, the last cut inside its record", "59 01 71 82 \r59 13 \r\r>", kGmClass2,
         K::cutShort, "59 01 71 82|59 13"},
        // Several units printed without blanks: each line's identifier read.
        {"two units printed without blanks", "7E8035902FF\r7E9075902FF01234508\r\r>",
         shown(kUdsFrom7E9, true, 3), K::answer, "59 02 FF 01 23 45 08"},
        {"two 29-bit units printed without blanks",
         "18DAF110035902FF\r18DAF118075902FF01234508\r\r>",
         shown(ask(F::can, 0x19, QZERecordLayout::uds(), {"18DAF118"}), true, 8), K::answer,
         "59 02 FF 01 23 45 08"},
        // The fact of a cut travels beside the text: the engine's former line is words.
        {"the engine's former cut line beside a refusal",
         "7F 19 22 \rNO DATA: REPLY CUT SHORT ERROR\r>", kUds, K::refusal},
    };
    for (const auto& c : cases) {
        const auto r = QZEModuleReply::classify(c.reply.text, c.asked, c.reply.cutShort);
        EXPECT_EQ(replyKindName(r.kind), std::string(replyKindName(c.kind))) << c.name;
        if (c.messages) {
            EXPECT_EQ(joined(r.messages), c.messages) << c.name;
        }
        if (c.code >= 0) {
            EXPECT_EQ(r.code, c.code) << c.name;
        }
    }
}

TEST(ModuleReplyTest, AMessageAssembledAlreadyIsClassifiedAsItCame) {
    EXPECT_EQ(QZEModuleReply::classifyMessage({"58", "01", "01", "1B", "20"}, true, kTp2).kind,
              K::answer);
    EXPECT_EQ(QZEModuleReply::classifyMessage({"58", "02", "41"}, false, kTp2).kind, K::cutShort);
    EXPECT_EQ(QZEModuleReply::classifyMessage({"7F", "18", "78"}, true, kTp2).kind, K::pending);
    EXPECT_EQ(QZEModuleReply::classifyMessage({}, true, kTp2).kind, K::silence);
    EXPECT_EQ(QZEModuleReply::classifyMessage({"58", "02"}, false, kTp2, true).kind, K::damaged);
    EXPECT_EQ(QZEModuleReply::classifyMessage({}, false, kTp2, true).kind, K::damaged);
}

}  // namespace
