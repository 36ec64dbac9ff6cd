// The decoders read replies as ELM327-type adapters print them: headers off, the identifier
// once or on every line, 29-bit identifiers as one token or as four bytes, and "response
// pending" printed before the data in the same reply. Every form of the same payload gives the
// same codes and statuses; negative responses and the sensor's words give none.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "DecoderReferences.hpp"
#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"
#include "lib/Modules/QZENaks.hpp"
#include "support/EngineFakes.hpp"

using namespace qz;
using namespace qz::testsupport;
using namespace qz::decodertest;

namespace {

using Texts = std::vector<std::string>;
using Module = BareModule;

// --- The adapter's display, written from the protocols (ISO 15765-2, SAE J1850) ---

// Where the identifier stands, and how it is printed.
struct Form {
    const char* name;
    std::string identifier;  // empty: headers off
    bool everyLine;
};

const std::vector<Form> kCanForms = {
    {"headers off", "", false},
    {"11-bit identifier once", "7E8", false},
    {"11-bit identifier on every line", "7E8", true},
    {"29-bit identifier once", "18DAF110", false},
    {"29-bit identifier on every line", "18DAF110", true},
    {"29-bit identifier as four bytes once", "18 DA F1 10", false},
    {"29-bit identifier as four bytes on every line", "18 DA F1 10", true},
};

std::string withIdentifier(const Texts& lines, const Form& form) {
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) {
        const bool shown = !form.identifier.empty() && (form.everyLine || i == 0);
        out += (shown ? form.identifier + " " : "") + lines[i] + " \r";
    }
    return out + "\r>";
}

// Messages of one module on CAN: headers off, single frames show their data and longer
// messages their length and "n: " frame lines; headers on, every frame with its PCI (padded to
// 8 bytes with `pad` when given).
std::string canReply(const std::vector<Bytes>& messages, const Form& form, int pad = -1) {
    Texts lines;
    for (const auto& m : messages) {
        if (form.identifier.empty()) {
            const auto shown = headersOffLines(m);
            lines.insert(lines.end(), shown.begin(), shown.end());
            continue;
        }
        for (auto frame : isoTpFrames(m)) {
            if (pad >= 0) frame.resize(8, pad);
            lines.push_back(hex(frame));
        }
    }
    return withIdentifier(lines, form);
}

// Extended addressing: every frame starts with the sender's address byte, with headers off too.
std::string extendedReply(const std::vector<Bytes>& messages, const Form& form, int pad = -1) {
    Texts lines;
    for (const auto& m : messages)
        for (auto frame : isoTpFrames(m, 6)) {
            frame.insert(frame.begin(), 0xF1);
            if (pad >= 0) frame.resize(8, pad);
            lines.push_back(hex(frame));
        }
    return withIdentifier(lines, form);
}

// Raw CAN frames (GMLAN): one line each.
std::string rawReply(const std::vector<Bytes>& frames, const Form& form) {
    Texts lines;
    for (const auto& f : frames) lines.push_back(hex(f));
    return withIdentifier(lines, form);
}

uint8_t j1850Crc(const Bytes& bytes) {
    uint8_t crc = 0xFF;
    for (int b : bytes) {
        crc ^= static_cast<uint8_t>(b);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint8_t>((crc & 0x80) ? (crc << 1) ^ 0x1D : crc << 1);
    }
    return static_cast<uint8_t>(~crc);
}

// J1850: one message a line; with headers, priority, target and source before it and the CRC
// after it.
std::string j1850Reply(const std::vector<Bytes>& messages, int priority) {
    std::string out;
    for (const auto& m : messages) {
        Bytes line = m;
        if (priority >= 0) {
            line = {priority, 0xF1, 0x10};
            line.insert(line.end(), m.begin(), m.end());
            line.push_back(j1850Crc(line));
        }
        out += hex(line) + " \r";
    }
    return out + "\r>";
}

// K-line with headers: format byte with the length, target, source, data, checksum.
std::string kLineReply(const std::vector<Bytes>& messages) {
    std::string out;
    for (const auto& m : messages) {
        Bytes line{0x80 | static_cast<int>(m.size()), 0xF1, 0x10};
        line.insert(line.end(), m.begin(), m.end());
        int sum = 0;
        for (int b : line) sum += b;
        line.push_back(sum & 0xFF);
        out += hex(line) + " \r";
    }
    return out + "\r>";
}

// --- Payloads and what they hold ---

// Distinct codes, never the filler code; statuses with every UDS word.
std::vector<Record> records(int n) {
    std::vector<Record> out;
    for (int i = 0; i < n; ++i)
        out.push_back({1 + (i * 67) % 255, (i * 59 + 7) & 0xFF, (i * 13 + 3) & 0xFF,
                       (i % 4 == 0)   ? 0x8C
                       : (i % 4 == 1) ? 0x08
                       : (i % 4 == 2) ? 0x04
                                      : 0x2F});
    return out;
}

using Decode = std::function<void(Module&, const std::string&)>;
using Render = std::function<std::string(const std::vector<Bytes>&, const Form&)>;

// One reply layout: its decoder, the forms it is printed in, the data messages, a negative
// answer of its service, and the codes they hold.
struct Layout {
    const char* name;
    Decode decode;
    Render render;
    std::vector<Form> forms;
    std::vector<Bytes> data;
    Bytes pending;  // "7F <service> 78"
    Texts codes;
    Texts statuses;
};

const std::vector<Form> kJ1850Forms = {{"headers off", "", false}, {"headers on", "H", false}};
const std::vector<Form> kKLineForms = {{"headers on", "", false}};

std::vector<Layout> layouts() {
    const auto uds = records(5);
    auto can = [](const std::vector<Bytes>& m, const Form& f) { return canReply(m, f); };
    auto extended = [](const std::vector<Bytes>& m, const Form& f) { return extendedReply(m, f); };
    std::vector<Form> extendedForms = kCanForms;
    for (auto& f : extendedForms)
        if (f.identifier == "7E8") f.identifier = "612";
    return {
        {"UDS",
         [](Module& m, const std::string& r) { m.decodeUds(r); },
         can,
         kCanForms,
         {udsPayload(uds)},
         {0x7F, 0x19, 0x78},
         udsCodes(uds),
         udsStatuses(uds)},
        {"UDS, extended addressing",
         [](Module& m, const std::string& r) { m.decodeExtendedUds(r); },
         extended,
         extendedForms,
         {udsPayload(uds)},
         {0x7F, 0x19, 0x78},
         udsCodes(uds),
         udsStatuses(uds)},
        {"KWP2000 on CAN",
         [](Module& m, const std::string& r) { m.decodeKWP2000CANResponse(r); },
         can,
         kCanForms,
         {{0x58, 3, 0x12, 0x81, 0xE0, 0x16, 0x84, 0x20, 0xC1, 0x00, 0x60}},
         {0x7F, 0x18, 0x78},
         {"P1281", "P1684", "U0100"},
         {"ACTIVE/MIL", "STORED", "ACTIVE"}},
        {"Toyota on CAN",
         [](Module& m, const std::string& r) { m.decodeToyotaDataCAN(r, "STORED"); },
         can,
         kCanForms,
         {{0x53, 4, 0x11, 0x35, 0x16, 0x56, 0x52, 0x41, 0xC1, 0x21}},
         {0x7F, 0x13, 0x78},
         {"P1135", "P1656", "C1241", "U0121"},
         Texts(4, "STORED")},
        {"Toyota broadcast",
         [](Module& m, const std::string& r) { m.decodeExtendedCANBroadcast(r, false, "STORED"); },
         can,
         kCanForms,
         {{0x53, 2, 0xC1, 0x00, 0xC1, 0x21}},
         {0x7F, 0x13, 0x78},
         {"U0100", "U0121"},
         Texts(2, "STORED")},
        {"Toyota broadcast, extended addressing",
         [](Module& m, const std::string& r) { m.decodeExtendedCANBroadcast(r, true, "STORED"); },
         extended,
         extendedForms,
         {{0x53, 4, 0x11, 0x35, 0x16, 0x56, 0x52, 0x41, 0xC1, 0x21}},
         {0x7F, 0x13, 0x78},
         {"P1135", "P1656", "C1241", "U0121"},
         Texts(4, "STORED")},
        {"GMLAN",
         [](Module& m, const std::string& r) { m.decodeEnhancedCodesCANGMJ2012(r); },
         [](const std::vector<Bytes>& m, const Form& f) { return rawReply(m, f); },
         kCanForms,
         {{0x81, 0x11, 0x01, 0x00, 0x92, 0, 0, 0},
          {0x81, 0x01, 0x71, 0x00, 0x0A, 0, 0, 0},
          {0x81, 0x00, 0x00, 0x00, 0xFF, 0, 0, 0}},
         {0x7F, 0xA9, 0x78},
         {"P1101", "P0171"},
         {"CURRENT/HISTORY/MIL", "CURRENT"}},
        {"J1850 PWM",
         [](Module& m, const std::string& r) { m.decodeCodesPWMFordJ2012(r); },
         [](const std::vector<Bytes>& m, const Form& f) {
             return j1850Reply(m, f.identifier.empty() ? -1 : 0xC4);
         },
         kJ1850Forms,
         {{0x53, 0x12, 0x94, 0x16, 0x93}, {0x53, 0xC1, 0x00, 0x00, 0x00}},
         {0x7F, 0x13, 0x78},
         {"P1294", "P1693", "U0100"},
         Texts(3, "")},
        {"J1850 VPW",
         [](Module& m, const std::string& r) { m.decodeEnhancedCodesVPWGMJ2012(r); },
         [](const std::vector<Bytes>& m, const Form& f) {
             return j1850Reply(m, f.identifier.empty() ? -1 : 0x6C);
         },
         kJ1850Forms,
         {{0x59, 0x01, 0x71, 0x82}, {0x59, 0x13, 0x80, 0x10}},
         {0x7F, 0x19, 0x78},
         {"P0171", "P1380"},
         {"CURRENT/MIL", "HISTORY"}},
        {"Toyota on K-line",
         [](Module& m, const std::string& r) { m.decodeToyotaDataKLine(r, "STORED"); },
         [](const std::vector<Bytes>& m, const Form&) { return kLineReply(m); },
         kKLineForms,
         {{0x53, 0x11, 0x35, 0x16, 0x56}},
         {0x7F, 0x13, 0x78},
         {"P1135", "P1656"},
         Texts(2, "STORED")},
    };
}

}  // namespace

class DecoderDisplayForms : public ::testing::Test {
  protected:
    EngineFakes fakes;
};

// Also after "SEARCHING...", which adapters print before the reply while the protocol is
// automatic.
TEST_F(DecoderDisplayForms, EveryFormOfAReplyGivesTheSameCodes) {
    for (const auto& layout : layouts()) {
        for (const auto& form : layout.forms) {
            for (int pending : {0, 1, 3}) {
                for (const char* before : {"", "SEARCHING...\r"}) {
                    SCOPED_TRACE(std::string(layout.name) + ", " + form.name + ", " +
                                 std::to_string(pending) + " pending answers first, after '" +
                                 before + "'");
                    std::vector<Bytes> messages(static_cast<size_t>(pending), layout.pending);
                    messages.insert(messages.end(), layout.data.begin(), layout.data.end());
                    const std::string reply = before + layout.render(messages, form);
                    Module m;
                    layout.decode(m, reply);
                    EXPECT_EQ(m.codeArray(), layout.codes) << reply;
                    EXPECT_EQ(m.statusArray(), layout.statuses);
                }
            }
        }
    }
}

// A frame the adapter flags as damaged ("<RX ERROR" after its bytes): its bytes, and the flag's
// words, give no code. The first code's bytes begin in the reply's first frame.
TEST_F(DecoderDisplayForms, AFlaggedFrameGivesNoCode) {
    for (const auto& layout : layouts()) {
        for (const auto& form : layout.forms) {
            const std::string whole = layout.render(layout.data, form);
            const auto views = reply::lines(whole);
            const Texts lines(views.begin(), views.end());
            for (size_t flagged = 0; flagged + 2 < lines.size(); ++flagged) {
                std::string reply;
                for (size_t i = 0; i < lines.size(); ++i)
                    reply += lines[i] + (i == flagged ? "<RX ERROR" : "") +
                             (i + 1 < lines.size() ? "\r" : "");
                SCOPED_TRACE(std::string(layout.name) + ", " + form.name + ": " + reply);
                Module m;
                layout.decode(m, reply);
                for (const auto& code : m.codeArray())
                    EXPECT_NE(std::find(layout.codes.begin(), layout.codes.end(), code),
                              layout.codes.end())
                        << code;
                // The length line of the headers-off display stands before the first frame.
                const bool lengthFirst = reply::tokens(lines[0]).size() == 1;
                if (flagged <= (lengthFirst ? 1u : 0u)) {
                    EXPECT_EQ(
                        std::find(m.codeArray().begin(), m.codeArray().end(), layout.codes.front()),
                        m.codeArray().end());
                }
            }
        }
    }
}

// Negative responses, alone or before another negative one, and the sensor's own words.
TEST_F(DecoderDisplayForms, NegativeAnswersAndTheSensorsWordsAreNoCodes) {
    const std::vector<Bytes> negatives = {
        {0x7F, 0x13, 0x78}, {0x7F, 0x19, 0x12}, {0x7F, 0x18, 0x31}, {0x7F, 0xA9, 0x22}};
    const Texts words = {"NO DATA\r\r>", "UNABLE TO CONNECT\r\r>", "CAN ERROR\r\r>",
                         "BUS INIT: ...ERROR\r\r>", "?\r\r>", "STOPPED\r\r>", "BUFFER FULL\r\r>",
                         "7F 13 78\rNO DATA\r\r>", "DATA ERROR\r\r>", "<RX ERROR\r\r>",
                         "SEARCHING...\r\r>", QZVehicleCommunicationProtocol::kNoDataReply,
                         // Replies that stopped before their prompt, as far as they came.
                         "7F 13 78 \r", "SEARCHING...\r"};
    for (const auto& layout : layouts()) {
        for (const auto& form : layout.forms) {
            SCOPED_TRACE(std::string(layout.name) + ", " + form.name);
            Module m;
            layout.decode(m, layout.render(negatives, form));
            for (const auto& n : negatives) layout.decode(m, layout.render({n}, form));
            EXPECT_TRUE(m.codeArray().empty()) << testing::PrintToString(m.codeArray());
        }
        Module m;
        for (const auto& w : words) layout.decode(m, w);
        EXPECT_TRUE(m.codeArray().empty()) << layout.name << testing::PrintToString(m.codeArray());
    }
}

// The J1850 faults as adapters showed them: a pending line read as P1378, a VPW negative line
// read as P1912, the sensor's "UNABLE TO CONNECT" read as P000C.
TEST_F(DecoderDisplayForms, J1850LinesCountOnlyUnderThePositiveResponseByte) {
    struct Case {
        const char* reply;
        bool vpw;
        int positive;
        Texts codes;
    };
    const std::vector<Case> cases = {
        {"7F 13 78 \r53 12 94 16 93 \r\r>", false, -1, {"P1294", "P1693"}},
        {"7F 13 78 \r53 12 94 16 93 \r\r>", false, 0x53, {"P1294", "P1693"}},
        {"7F 19 12 \r\r>", true, -1, {}},
        {"7F 19 12 \r59 01 71 82 \r\r>", true, 0x59, {"P0171"}},
        {"UNABLE TO CONNECT\r\r>", false, -1, {}},
        {"UNABLE TO CONNECT\r\r>", true, 0x59, {}},
        // Lines of another response byte than the one asked for are not codes.
        {"53 12 94 16 93 \r54 01 23 04 56 \r\r>", false, -1, {"P1294", "P1693"}},
        {"54 01 23 04 56 \r53 12 94 16 93 \r\r>", false, 0x53, {"P1294", "P1693"}},
        // Without a byte given, the engine's: 53 for PWM, 59 for VPW. A headers-off line whose
        // last byte happens to be its CRC is still a line without headers.
        {"53 33 BE 07 42 \r53 89 5D 86 BA \r\r>", false, -1, {"P33BE", "P0742", "B095D", "B06BA"}},
        {"59 33 BE 07 \r\r>", true, -1, {"P33BE"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        Module m;
        if (c.vpw)
            m.decodeEnhancedCodesVPWGMJ2012(c.reply, c.positive);
        else
            m.decodeCodesPWMFordJ2012(c.reply, c.positive);
        EXPECT_EQ(m.codeArray(), c.codes);
    }
}

// Replies long enough for the first frame's 12-bit length, in every form.
TEST_F(DecoderDisplayForms, LongRepliesDecodeInEveryForm) {
    std::vector<Form> extendedForms = kCanForms;
    for (int n : {64, 100, 255}) {
        const auto rs = records(n);
        const Bytes payload = udsPayload(rs);
        ASSERT_GE(payload.size(), 256u);
        for (const auto& form : kCanForms) {
            for (bool pending : {false, true}) {
                SCOPED_TRACE(std::to_string(n) + " records, " + form.name +
                             (pending ? ", pending first" : ""));
                std::vector<Bytes> messages;
                if (pending) messages.push_back({0x7F, 0x19, 0x78});
                messages.push_back(payload);
                Module m;
                EXPECT_EQ(m.decodeUds(canReply(messages, form)), n);
                EXPECT_EQ(m.codeArray(), udsCodes(rs));
                EXPECT_EQ(m.statusArray(), udsStatuses(rs));
                Module e;
                EXPECT_EQ(e.decodeExtendedUds(extendedReply(messages, form)), n);
                EXPECT_EQ(e.codeArray(), udsCodes(rs));
                EXPECT_EQ(e.statusArray(), udsStatuses(rs));
            }
        }
    }
}

// CAN frames padded to 8 bytes: the message length tells where the data stop.
TEST_F(DecoderDisplayForms, PaddingIsNoCode) {
    for (int pad : {0x00, 0xAA, 0xFF, 0x55}) {
        for (int n = 1; n <= 9; ++n) {
            const auto rs = records(n);
            for (const auto& form : kCanForms) {
                SCOPED_TRACE(std::to_string(n) + " records, pad " + std::to_string(pad) + ", " +
                             form.name);
                Module e;
                e.decodeExtendedUds(extendedReply({udsPayload(rs)}, form, pad));
                EXPECT_EQ(e.codeArray(), udsCodes(rs));
                EXPECT_EQ(e.statusArray(), udsStatuses(rs));
                if (form.identifier.empty()) continue;  // headers off shows no padding
                Module m;
                m.decodeUds(canReply({udsPayload(rs)}, form, pad));
                EXPECT_EQ(m.codeArray(), udsCodes(rs));
            }
        }
    }
}

TEST(ReplyIdentifiers, OneTokenOrFourBytesInFrontOfALine) {
    struct Case {
        Texts lines;
        std::vector<size_t> lengths;
    };
    const std::vector<Case> cases = {
        {{"7E8 03 7F 19 78", "7E8 10 0B 59 02"}, {1, 1}},
        {{"18DAF110 10 0B 59 02 FF", "21 01 23"}, {1, 0}},
        {{"18 DA F1 10 10 0B 59 02", "18 DA F1 10 21 01 23"}, {4, 4}},
        // After a four-byte identifier printed once, frames are frames: a single frame
        // (07 59 ...) and a first frame with a long length (10 4F ...).
        {{"18 DA F1 10 03 7F 19 78", "07 59 02 FF 01 23 45 08", "10 4F 59 02 FF 01 23 45"},
         {4, 0, 0}},
        // Another module of the same identifier family.
        {{"18 DA F1 10 03 7F 19 78", "18 DA F1 28 03 7F 19 78"}, {4, 4}},
        // Headers off: data, frame markers, the length, extended addressing behind a low
        // address byte.
        {{"59 02 FF 01 23 45 08"}, {0}},
        {{"00F", "0: 59 02 FF 01 23 45"}, {1, 0}},
        {{"12 10 0B 59 02 FF 01 23", "12 21 45 08"}, {0, 0}},
        // Frames shown without an identifier: a single frame, a first frame.
        {{"03 7F 19 12"}, {0}},
        {{"10 4F 59 02 FF 01 23 45"}, {0}},
        {{"NO DATA"}, {0}},
        {{"18 DA F1"}, {0}},
        // After the adapter's words.
        {{"SEARCHING...", "18 DA F1 59 07 59 02 FF 01 23 45 08"}, {0, 4}},
        {{"SEARCHING...", "18 DA F1 10 10 0A 59 02 FF 01 23 45", "21 08 C1 00 00"}, {0, 4, 0}},
        // After a one-token identifier, a first frame of a long message is no identifier.
        {{"7E8 03 7F 19 78", "10 C4 59 02 FF 01 23 45"}, {1, 0}},
    };
    for (const auto& c : cases) {
        reply::Identifiers ids;
        std::vector<size_t> lengths;
        for (const auto& line : c.lines) lengths.push_back(ids.at(reply::tokens(line)));
        EXPECT_EQ(lengths, c.lengths) << testing::PrintToString(c.lines);
    }
}

TEST(ReplyWords, TheSensorsWordsInAnySpacing) {
    struct Case {
        std::string reply;
        bool noData, error, accepted;
    };
    const std::vector<Case> cases = {
        {"OK\r\r>", false, false, true},
        {"KQSP6\rOK\r>", false, false, true},
        {"BUS INIT: ...OK\r>", false, false, true},
        {"SEARCHING...\rOK\r>", false, false, true},
        {"?\r\r>", false, true, false},
        {"OK\r?\r>", false, true, false},
        {"NO DATA\r>", true, false, false},
        {"NODATA\r>", true, false, false},
        {"no data", true, false, false},
        {"CAN ERROR", false, true, false},
        {"BUSINIT: ...ERROR", false, true, false},
        {"7E8 10 0B 59 02 FF 01 23 45 <RX ERROR", false, true, false},
        {"<DATA ERROR", false, true, false},
        {"ERR94", false, true, false},
        {"UNABLETO CONNECT", false, true, false},
        {"BUS BUSY", false, true, false},
        {"BUFFERFULL", false, true, false},
        {"STOPPED", false, true, false},
        {"LP ALERT", false, true, false},
        {"ACT ALERT", false, true, false},
        {"LV RESET", false, true, false},
        {"7E8 03 43 01 20", false, false, false},
        {"", false, false, false},
        {"O?", false, true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(reply::holdsNoData(c.reply), c.noData) << c.reply;
        EXPECT_EQ(reply::holdsSensorError(c.reply), c.error) << c.reply;
        EXPECT_EQ(reply::isAccepted(c.reply), c.accepted) << c.reply;
    }
}

TEST_F(DecoderDisplayForms, NegativeResponsesAndTheAnswersBesideThem) {
    struct Case {
        const char* reply;
        QZEFraming framing;
        QZEReplyKind kind;
    };
    using K = QZEReplyKind;
    const auto can = QZEFraming::can;
    const std::vector<Case> cases = {
        {"7F 18 78 \r\r>", can, K::pending},
        {"18 DA F1 10 03 7F 18 78 \r\r>", can, K::pending},
        {"18 DA F1 10 03 7F 18 78 \r18 DA F1 10 03 7F 18 78 \r\r>", can, K::pending},
        {"18 DA F1 10 03 7F 18 78 \r18 DA F1 10 05 58 01 12 81 E0 \r\r>", can, K::answer},
        {"7F 18 78 \r008 \r0: 58 02 12 81 E0 16 \r1: 84 20 \r\r>", can, K::answer},
        {"7E8 03 7F 18 78 \r10 08 58 02 12 81 E0 16 \r21 84 20 \r\r>", can, K::answer},
        {"83 F1 10 7F 18 78 7E \r85 F1 10 58 01 35 16 56 \r\r>", QZEFraming::kLine, K::answer},
        {"7F 18 78 \r7F 18 12 \r\r>", can, K::refusal},
        {"7F 18 78 \rNO DATA\r\r>", can, K::pending},
        {"7F 18 78 \r?\r\r>", can, K::pending},
        {"58 01 12 81 E0 \r\r>", can, K::answer},
        // A negative response cut short is a refusal; beside the data, the data is the answer.
        {"7F 18 \r\r>", can, K::refusal},
        {"7F 18 \r58 01 12 81 E0 \r\r>", can, K::answer},
        // Another service's negative response answers nothing asked: no answer, nor nothing.
        {"7F 22 78 \r\r>", can, K::damaged},
    };
    for (const auto& c : cases) {
        const auto r =
            QZEModuleReply::classify(c.reply, QZEAsked::of("18 00 FF 00", c.framing, {}));
        EXPECT_EQ(replyKindName(r.kind), std::string(replyKindName(c.kind))) << c.reply;
        EXPECT_EQ(QZENaks::isNAK(c.reply),
                  c.framing == can && c.kind != K::answer && c.kind != K::sensorWord)
            << c.reply;
    }
}

// A reply that holds "response pending" and the answer is the answer: it counts as data and
// is not sent again. "Response pending" alone is waited out and, if it never ends, is no answer.
TEST_F(DecoderDisplayForms, APendingAnswerWithItsDataIsTheAnswer) {
    const std::string folded = "7F 19 78 \r59 02 FF 01 23 45 08 \r\r>";
    const std::string wide = "18 DA F1 10 03 7F 19 78 \r\r>";
    struct Case {
        const char* name;
        std::string reply;
        bool can;
        Texts events;
        int64_t state;
    };
    const std::string S = "send:19 02 FF";
    const std::vector<Case> cases = {
        {"can, folded", folded, true, {S}, ResponseStateHasData},
        {"k-line, folded", folded, false, {S}, ResponseStateHasData},
        {"can, pending under a four-byte identifier",
         wide,
         true,
         {S, "sleep:5", S, "sleep:5", S, "sleep:5", S, "sleep:5", S, "sleep:5", S},
         ResponseStateHasNakData},
        {"k-line, pending under its header",
         "83 F1 10 7F 19 78 A4 \r\r>",
         false,
         {S, S, S, S, S, S},
         ResponseStateHasNakData},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fakes.events->clear();
        fakes.vehicle->script("19 02 FF", {c.reply});
        Module m;
        EXPECT_EQ(
            (c.can ? m.retryIfNrcAckOnCAN("19 02 FF") : m.retryIfNrcAckOnKline("19 02 FF")).text,
            c.reply);
        EXPECT_EQ(fakes.events->events(), c.events);
        EXPECT_EQ(m.responseState(), c.state);
    }
}
