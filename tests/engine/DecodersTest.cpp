#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <random>
#include <set>

#include "DecoderReferences.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"
#include "support/EngineFakes.hpp"

using namespace qz;
using namespace qz::testsupport;
using namespace qz::decodertest;

namespace {

using Texts = std::vector<std::string>;

using Module = BareModule;

enum class Headers { off, on, onPadded };
const std::vector<Headers> kAllHeaders = {Headers::off, Headers::on, Headers::onPadded};

const char* name(Headers h) {
    return h == Headers::off  ? "headers off"
           : h == Headers::on ? "headers on"
                              : "headers on, padded";
}

// A CAN reply as the sensor prints it.
std::string canReply(const Bytes& payload, Headers headers, const std::string& id = "7E8") {
    std::string out;
    if (headers == Headers::off) {
        for (const auto& line : headersOffLines(payload)) out += line + "\r";
        return out + "\r>";
    }
    out = id + " ";
    for (auto frame : isoTpFrames(payload)) {
        if (headers == Headers::onPadded) frame.resize(8, 0xAA);
        out += hex(frame) + "\r";
    }
    return out + "\r>";
}

// Extended addressing: every frame starts with the address byte; with headers on the
// identifier comes first.
std::string extendedCanReply(const Bytes& payload, bool headersOn, int address = 0xF1) {
    std::string out = headersOn ? "6F1 " : "";
    for (auto frame : isoTpFrames(payload, 6)) {
        frame.insert(frame.begin(), address);
        out += hex(frame) + "\r";
    }
    return out + "\r>";
}

// Distinct codes of every letter, never the filler code.
std::vector<Record> records(int n) {
    std::vector<Record> out;
    for (int i = 0; i < n; ++i)
        out.push_back(
            {(1 + 7 * i) & 0xFF, (i * 59 + 7) & 0xFF, (i * 13 + 3) & 0xFF, (i * 29 + n) & 0xFF});
    return out;
}

}  // namespace

class DecodersTest : public ::testing::Test {
  protected:
    EngineFakes fakes;
};

TEST(J2012Test, EveryBytePairGivesTheStandardText) {
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b)
            ASSERT_EQ(QZEBaseDiagnosticModule::getJ2012CodeFromBytes(a, b), refJ2012(a, b))
                << a << " " << b;
    EXPECT_EQ(QZEBaseDiagnosticModule::getJ2012CodeFromBytes(0x01, 0x23), "P0123");
    EXPECT_EQ(QZEBaseDiagnosticModule::getJ2012CodeFromBytes(0xC1, 0x00), "U0100");
    EXPECT_EQ(QZEBaseDiagnosticModule::getJ2012CodeFromBytes(0x141, 0x00), " 0100");
}

TEST_F(DecodersTest, StatusTables) {
    for (int s = 0; s < 256; ++s) ASSERT_EQ(Module::decodeStatusByte(s), refUdsStatus(s)) << s;
    EXPECT_EQ(Module::decodeStatusByte(0x8C), "MIL/CONFIRMED/PENDING");

    struct Case {
        int64_t make;
        int status;
        const char* text;
    };
    const std::vector<Case> cases = {
        {4, 0x80, "MIL"},
        {4, 0xA0, "STORED/MIL"},
        {4, 0xC0, "PENDING/MIL"},
        {4, 0xE0, "ACTIVE/MIL"},
        {4, 0x00, ""},
        {4, 0x20, "STORED"},
        {4, 0x40, "PENDING"},
        {4, 0x60, "ACTIVE"},
        {4, 0x2F, ""},
        {5, 0xE1, ""},
        {9, 0x2F, "NOT PRESENT"},
        {9, 0x40, "INTERMITTENT"},
        {9, 0xE0, "MIL/PRESENT"},
        {10, 0x80, "MIL"},
        {10, 0x1F, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Module(c.make).getKWP2000Status(static_cast<uint8_t>(c.status)), c.text)
            << c.make << " " << c.status;
}

// UDS 59 02 replies of 1 to 40 records, single- and multi-frame, in every display.
TEST_F(DecodersTest, UdsRepliesOfEverySizeAndDisplay) {
    for (int n = 1; n <= 40; ++n) {
        auto rs = records(n);
        const Texts codes = udsCodes(rs), statuses = udsStatuses(rs);
        for (auto headers : kAllHeaders) {
            SCOPED_TRACE(std::to_string(n) + " records, " + name(headers));
            Module m;
            EXPECT_EQ(m.decodeUds(canReply(udsPayload(rs), headers)), n);
            EXPECT_EQ(m.codeArray(), codes);
            EXPECT_EQ(m.statusArray(), statuses);
        }
        for (bool on : {false, true}) {
            SCOPED_TRACE(std::to_string(n) + " records, extended addressing");
            Module m;
            EXPECT_EQ(m.decodeExtendedUds(extendedCanReply(udsPayload(rs), on)), n);
            EXPECT_EQ(m.codeArray(), codes);
            EXPECT_EQ(m.statusArray(), statuses);
        }
    }
}

// KWP2000 and Toyota replies of 1 to 20 codes in every display.
TEST_F(DecodersTest, KwpAndToyotaCanRepliesOfEverySizeAndDisplay) {
    const int kwpStatus[] = {0x20, 0x40, 0x60, 0x80, 0xA0, 0xC0, 0xE0, 0x00};
    const char* kwpText[] = {"STORED",     "PENDING",     "ACTIVE",     "MIL",
                             "STORED/MIL", "PENDING/MIL", "ACTIVE/MIL", ""};
    for (int n = 1; n <= 20; ++n) {
        auto rs = records(n);
        Bytes kwp{0x58, n}, toyota{0x53, n};
        Texts codes, kwpStatuses;
        for (size_t i = 0; i < rs.size(); ++i) {
            kwp.insert(kwp.end(), {rs[i].a, rs[i].b, kwpStatus[i % 8]});
            toyota.insert(toyota.end(), {rs[i].a, rs[i].b});
            codes.push_back(refJ2012(rs[i].a, rs[i].b));
            kwpStatuses.push_back(kwpText[i % 8]);
        }
        for (auto headers : kAllHeaders) {
            SCOPED_TRACE(std::to_string(n) + " codes, " + name(headers));
            Module m;
            EXPECT_EQ(m.decodeKWP2000CANResponse(canReply(kwp, headers)), n);
            EXPECT_EQ(m.codeArray(), codes);
            EXPECT_EQ(m.statusArray(), kwpStatuses);
            Module t;
            EXPECT_EQ(t.decodeToyotaDataCAN(canReply(toyota, headers), "STORED"), n);
            EXPECT_EQ(t.codeArray(), codes);
            EXPECT_EQ(t.statusArray(), Texts(n, "STORED"));
            Module b;
            EXPECT_EQ(b.decodeExtendedCANBroadcast(canReply(toyota, headers), false, "PENDING"), n);
            EXPECT_EQ(b.codeArray(), codes);
        }
        Module e;
        EXPECT_EQ(e.decodeExtendedCANBroadcast(extendedCanReply(toyota, true), true, ""), n);
        EXPECT_EQ(e.codeArray(), codes);
    }
}

// Each layout's own rules, one row per reply.
TEST_F(DecodersTest, LayoutRules) {
    using Decode = std::function<int64_t(Module&, const std::string&)>;
    struct Case {
        const char* layout;
        Decode decode;
        std::string reply;
        int64_t result;
        Texts codes;
        Texts statuses;
        int64_t make = 4;
    };
    Decode kwpBytes = [](Module& m, const std::string& r) {
        return m.decodeKWP2000ResponseBytes(Module::cleanResponseString(r));
    };
    Decode kwpCan = [](Module& m, const std::string& r) { return m.decodeKWP2000CANResponse(r); };
    Decode chrysler = [](Module& m, const std::string& r) {
        return m.decodeEnhancedCodesCANChryslerJ2012(r) + m.decodeJ2012(r);
    };
    Decode gmlan = [](Module& m, const std::string& r) {
        return m.decodeEnhancedCodesCANGMJ2012(r);
    };
    Decode pwm = [](Module& m, const std::string& r) { return m.decodeCodesPWMFordJ2012(r); };
    Decode vpw = [](Module& m, const std::string& r) { return m.decodeEnhancedCodesVPWGMJ2012(r); };
    Decode toyotaCan = [](Module& m, const std::string& r) { return m.decodeToyotaDataCAN(r); };
    Decode toyotaK = [](Module& m, const std::string& r) {
        return m.decodeToyotaDataKLine(r, "STORED");
    };
    Decode broadcast = [](Module& m, const std::string& r) {
        return m.decodeExtendedCANBroadcast(r, false, "");
    };
    Decode uds = [](Module& m, const std::string& r) { return m.decodeUds(r); };
    Decode extUds = [](Module& m, const std::string& r) { return m.decodeExtendedUds(r); };

    const std::vector<Case> cases = {
        // KWP2000 bytes from "58" on.
        {"kwp", kwpBytes, "83 F1 10 58 01 01 23 20 C5", 1, {"P0123"}, {"STORED"}},
        {"kwp: Mercedes status", kwpBytes, "58 01 01 23 E0", 1, {"P0123"}, {"MIL/PRESENT"}, 9},
        {"kwp: filler dropped", kwpBytes, "58 02 00 00 20 41 00 40", 1, {"C0100"}, {"PENDING"}},
        {"kwp: count from the first token", kwpBytes, "01 01 23 60", 1, {"P0123"}, {"ACTIVE"}},
        {"kwp: no codes", kwpBytes, "58 00", 0, {}, {}},
        {"kwp: count past the data",
         kwpBytes,
         "58 03 01 23 20 04 56 40 07",
         2,
         {"P0123", "P0456"},
         {"STORED", "PENDING"}},
        {"kwp: count missing", kwpBytes, "83 F1 10 58", 0, {}, {}},
        {"kwp: a flagged message", kwpBytes, "83 F1 10 58 01 01 23 20 C5 <DATA ERROR", 0, {}, {}},
        // KWP2000 on CAN.
        {"kwp can: no data", kwpCan, "NO DATA\r\r>", 0, {}, {}},
        {"kwp can: negative", kwpCan, "7F 18 12\r\r>", 0, {}, {}},
        {"kwp can: negative, headers on", kwpCan, "7E8 03 7F 18 78\r\r>", 0, {}, {}},
        {"kwp can: no 58", kwpCan, "01 02 03 04 05\r\r>", 0, {}, {}},
        {"kwp can: no record", kwpCan, "58 00\r\r>", 0, {}, {}},
        {"kwp can: lines ended by a blank",
         kwpCan,
         "008 \r0: 58 02 01 23 20 04 \r1: 56 40 \r\r>",
         2,
         {"P0123", "P0456"},
         {"STORED", "PENDING"}},
        {"kwp can: frames without the length line",
         kwpCan,
         "0: 58 02 01 23 20 04\r1: 56 40\r\r>",
         2,
         {"P0123", "P0456"},
         {"STORED", "PENDING"}},
        // Another answer's first frame, then this one's last frame holding bytes past its end:
        // no code of two answers; padded to a whole frame it is read.
        {"kwp can: a last frame holding another answer's bytes",
         kwpCan,
         "7E8 10 08 58 02 2C 3B E0 25\r7E8 21 B3 60 91 EA 20\r\r>",
         0,
         {},
         {}},
        {"kwp can: a padded last frame",
         kwpCan,
         "7E8 10 08 58 02 2C 3B E0 25\r7E8 21 B3 60 55 55 55 55 55\r\r>",
         2,
         {"P2C3B", "P25B3"},
         {"ACTIVE/MIL", "ACTIVE"}},
        {"kwp can: 29-bit identifier",
         kwpCan,
         "18DAF110 05 58 01 01 23 20\r\r>",
         1,
         {"P0123"},
         {"STORED"}},
        {"kwp can: identifier on every line",
         kwpCan,
         "7E8 10 08 58 02 01 23 20 04\r7E8 21 56 40\r\r>",
         2,
         {"P0123", "P0456"},
         {"STORED", "PENDING"}},
        {"kwp can: lost frame",
         kwpCan,
         "7E8 10 0B 58 03 01 23 20 04\r22 01 02 03\r\r>",
         1,
         {"P0123"},
         {"STORED"}},
        // A frame the adapter flags as damaged, and its message's later frames, are no code.
        {"kwp can: a flagged first frame",
         kwpCan,
         "7E8 10 08 58 02 01 23 20 04 <RX ERROR\r7E8 21 56 40\r\r>",
         0,
         {},
         {}},
        // A four-byte identifier after the adapter's words; its last byte is "58".
        {"kwp can: a four-byte identifier after SEARCHING...",
         kwpCan,
         "SEARCHING...\r18 DA F1 58 05 58 01 01 23 20\r\r>",
         1,
         {"P0123"},
         {"STORED"}},
        {"chrysler forwards", chrysler, "58 01 01 23 20\r\r>", 2, {"P0123"}, {"STORED"}},
        // GMLAN lines.
        {"gmlan: headers on",
         gmlan,
         "5E8 81 01 23 45 92 00 00 00\r81 C1 00 00 10 00 00 00\r\r>",
         2,
         {"P0123", "U0100"},
         {"CURRENT/HISTORY/MIL", "HISTORY"}},
        {"gmlan: headers off keeps the first code",
         gmlan,
         "81 01 23 45 02 00 00 00\r81 04 56 00 00 00 00 00\r\r>",
         2,
         {"P0123", "P0456"},
         {"CURRENT", ""}},
        {"gmlan: identifier alone",
         gmlan,
         "5E8\r81 01 23 45 80 00 00 00\r\r>",
         1,
         {"P0123"},
         {"MIL"}},
        {"gmlan: short or odd lines",
         gmlan,
         "5E8 81 01 23 45 80 00 00\r82 01 02 03 04 05 06 07\r81 00 00 00 80 00 00 00\r",
         0,
         {},
         {}},
        // A short line is skipped; the codes after it are read.
        {"gmlan: a short line",
         gmlan,
         "81 01 23 45 80 00 00 00\r81\r81 04 56 00 80 00 00 00",
         2,
         {"P0123", "P0456"},
         {"MIL", "MIL"}},
        {"gmlan: a flagged frame",
         gmlan,
         "5E8 81 01 23 45 92 00 00 00 <RX ERROR\r81 C1 00 00 10 00 00 00\r\r>",
         1,
         {"U0100"},
         {"HISTORY"}},
        // J1850 PWM lines.
        {"pwm",
         pwm,
         "53 01 23 04 56\r53 C1 00 00 00\r\r>",
         3,
         {"P0123", "P0456", "U0100"},
         {"", "", ""}},
        {"pwm: one code on the line", pwm, "53 01 23\r\r>", 1, {"P0123"}, {""}},
        {"pwm: a pair cut short", pwm, "53 01 23 04\r\r>", 1, {"P0123"}, {""}},
        {"pwm: a short line", pwm, "53 01\r53 01 23 04 56", 2, {"P0123", "P0456"}, {"", ""}},
        {"pwm: a flagged line",
         pwm,
         "53 01 23 04 56 <RX ERROR\r53 C1 00 00 00\r\r>",
         1,
         {"U0100"},
         {""}},
        // Headers off, a line whose last byte happens to be its J1850 CRC.
        {"pwm: a last byte like a CRC",
         pwm,
         "53 33 BE 07 42 \r53 89 5D 86 BA \r\r>",
         4,
         {"P33BE", "P0742", "B095D", "B06BA"},
         {"", "", "", ""}},
        // J1850 VPW GM lines.
        {"vpw",
         vpw,
         "59 01 23 DA\r59 04 56 00\r\r>",
         2,
         {"P0123", "P0456"},
         {"CURRENT/SINCE CLEAR/HISTORY/SINCE POWER/MIL", ""}},
        // A record is A, B and the status: one cut inside its status is no code.
        {"vpw: no status byte", vpw, "59 01 23\r\r>", 0, {}, {}},
        {"vpw: status byte 02", vpw, "59 01 23 02 ", 1, {"P0123"}, {"CURRENT"}},
        {"vpw: too short", vpw, "59 01   \r", 0, {}, {}},
        {"vpw: a flagged line",
         vpw,
         "59 01 23 DA <DATA ERROR\r59 04 56 00\r\r>",
         1,
         {"P0456"},
         {""}},
        // Toyota on CAN.
        {"toyota can: count 0 still reads a pair",
         toyotaCan,
         "53 00 01 23\r\r>",
         1,
         {"P0123"},
         {""}},
        {"toyota can: fewer pairs than counted",
         toyotaCan,
         "53 03 01 23 04 56\r\r>",
         2,
         {"P0123", "P0456"},
         {"", ""}},
        {"toyota can: count 0 and one pair", toyotaCan, "53 00 C2 93\r\r>", 1, {"U0293"}, {""}},
        // A count above the pairs: a message cut at its end, its whole pairs read.
        {"toyota can: a count above the pairs", toyotaCan, "53 02 C2 93\r\r>", 1, {"U0293"}, {""}},
        {"toyota can: too short", toyotaCan, "53 01\r\r>  ", 0, {}, {}},
        {"toyota can: no 53", toyotaCan, "7F 13 12\r\r>", 0, {}, {}},
        {"toyota can: filler", toyotaCan, "53 02 00 00 04 56\r\r>", 1, {"P0456"}, {""}},
        // Nothing of a damaged message is a code, not even what came before the damage.
        {"toyota can: a flagged frame damages its message",
         toyotaCan,
         "7E8 10 0A 53 04 11 35 16 56\r7E8 21 52 41 C1 21 <RX ERROR\r\r>",
         0,
         {},
         {}},
        // Toyota on K-line: format byte, target, source, 53, [count,] pairs, checksum.
        {"toyota k: odd length",
         toyotaK,
         "85 F1 10 53 01 23 04 56 AA\r\r>",
         2,
         {"P0123", "P0456"},
         {"STORED", "STORED"}},
        {"toyota k: even length with count",
         toyotaK,
         "84 F1 10 53 01 01 23 AA\r\r>",
         1,
         {"P0123"},
         {"STORED"}},
        {"toyota k: skipped lines", toyotaK, "83 F1 10 7F 13 12 AA\r81 F1 10\r\r>", 0, {}, {}},
        {"toyota k: count past the line",
         toyotaK,
         "83 F1 10 53 01 23 AA\r86 F1 10 53 05 04 56 AA\r",
         1,
         {"P0123"},
         {"STORED"}},
        // Of odd length a message holds no count, whatever its first code byte.
        {"toyota k: three codes, the first byte 03",
         toyotaK,
         "87 F1 10 53 03 00 12 00 25 11 AA\r\r>",
         3,
         {"P0300", "P1200", "P2511"},
         {"STORED", "STORED", "STORED"}},
        {"toyota k: a P01xx code alone",
         toyotaK,
         "83 F1 10 53 01 71 D1\r\r>",
         1,
         {"P0171"},
         {"STORED"}},
        {"toyota k: the misfire triple",
         toyotaK,
         "87 F1 10 53 03 00 03 01 03 02 8C\r\r>",
         3,
         {"P0300", "P0301", "P0302"},
         {"STORED", "STORED", "STORED"}},
        {"toyota k: a P01xx code alone, headers off",
         toyotaK,
         "53 01 71\r\r>",
         1,
         {"P0171"},
         {"STORED"}},
        {"toyota k: the misfire triple, headers off",
         toyotaK,
         "53 03 00 03 01 03 02\r\r>",
         3,
         {"P0300", "P0301", "P0302"},
         {"STORED", "STORED", "STORED"}},
        // A count that disagrees with the length: no code of the message.
        {"toyota k: a count smaller than the pairs",
         toyotaK,
         "86 F1 10 53 01 01 23 04 56 AA\r\r>",
         0,
         {},
         {}},
        {"toyota k: a count larger than the pairs",
         toyotaK,
         "86 F1 10 53 03 01 23 04 56 AA\r\r>",
         0,
         {},
         {}},
        {"toyota k: a flagged line",
         toyotaK,
         "85 F1 10 53 01 23 04 56 AA <RX ERROR\r85 F1 10 53 11 35 16 56 AA\r\r>",
         2,
         {"P1135", "P1656"},
         {"STORED", "STORED"}},
        // Toyota broadcast.
        {"broadcast: negative", broadcast, "7F 13 12 00 00 00\r\r>", 0, {}, {}},
        {"broadcast: no 53", broadcast, "01 02 03 04 05\r\r>", 0, {}, {}},
        {"broadcast: 53 only inside a token", broadcast, "0153 02 03 04\r\r>", 0, {}, {}},
        {"broadcast: 53 last", broadcast, "01 02 03 04 53\r\r>", 0, {}, {}},
        {"broadcast: count 0", broadcast, "53 00 01 23 45\r\r>", 0, {}, {}},
        {"broadcast: a flagged first frame",
         broadcast,
         "7E8 10 0A 53 04 11 35 16 56 <RX ERROR\r7E8 21 52 41 C1 21\r\r>",
         0,
         {},
         {}},
        // UDS.
        {"uds: length 07", uds, "7E8 07 59 02 FF 01 23 45 08\r\r>", 1, {"P0123-45"}, {"CONFIRMED"}},
        {"uds: length 06", uds, "7E8 06 59 02 FF 01 23 45 08\r\r>", 0, {}, {}},
        {"uds: short text", uds, "59 02 FF", 0, {}, {}},
        {"uds: no 59", uds, "7E8 03 7F 19 78\r\r>", 0, {}, {}},
        {"uds: pending then data",
         uds,
         "7E8 03 7F 19 78\r07 59 02 FF C1 00 01 8C\r\r>",
         1,
         {"U0100-01"},
         {"MIL/CONFIRMED/PENDING"}},
        {"uds: filler", uds, "59 02 FF 00 00 00 08 01 23 45 00\r\r>", 2, {"P0123-45"}, {""}},
        {"uds: length past the data",
         uds,
         "7E8 10 0F 59 02 FF 01 23 45\r21 08 04 56\r\r>",
         1,
         {"P0123-45"},
         {"CONFIRMED"}},
        {"uds: a lost frame keeps what came before",
         uds,
         "0B7\r0: 59 02 FF 01 23 45\r1: 08 04 56 78 2C 07 89\r3: 0A 2C 01 01 01 01 01\r\r>",
         2,
         {"P0123-45", "P0456-78"},
         {"CONFIRMED", "CONFIRMED/PENDING"}},
        {"uds: a flagged frame damages its message",
         uds,
         "0B7\r0: 59 02 FF 01 23 45\r1: 08 04 56 78 2C 07 89\r2: 0A 2C 01 01 01 01 01 <DATA "
         "ERROR\r3: 0A 2C 01 01 01 01 01\r\r>",
         0,
         {},
         {}},
        {"uds: a flagged first frame",
         uds,
         "7E8 10 0B 59 02 FF 01 23 45 <RX ERROR\r7E8 21 08 C1 00 00 2F\r\r>",
         0,
         {},
         {}},
        {"uds: a flagged single frame", uds, "59 02 FF 01 23 45 08 <RX ERROR\r\r>", 0, {}, {}},
        // A four-byte identifier after the adapter's words; its last byte is "59".
        {"uds: a four-byte identifier after SEARCHING...",
         uds,
         "SEARCHING...\r18 DA F1 59 07 59 02 FF 01 23 45 08\r\r>",
         1,
         {"P0123-45"},
         {"CONFIRMED"}},
        {"extended uds: single frame", extUds, "F1 06 59 02 FF 01 23 45\r\r>", 0, {}, {}},
        {"extended uds: a lost frame",
         extUds,
         "6F1 F1 10 0F 59 02 FF 01 23\rF1 21 45 08 04 56 78 2C\rF1 23 00 00 00 00 00 00\r\r>",
         2,
         {"P0123-45", "P0456-78"},
         {"CONFIRMED", "CONFIRMED/PENDING"}},
        {"extended uds: frames on one line",
         extUds,
         "F1 10 0B 59 02 FF 01 23 F1 21 45 08 04 56 78 2C\r\r>",
         2,
         {"P0123-45", "P0456-78"},
         {"CONFIRMED", "CONFIRMED/PENDING"}},
        {"extended uds: a flagged first frame",
         extUds,
         "6F1 F1 10 0F 59 02 FF 01 23 <RX ERROR\rF1 21 45 08 04 56 78 2C\r\r>",
         0,
         {},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.layout) + ": " + c.reply);
        Module m(c.make);
        EXPECT_EQ(c.decode(m, c.reply), c.result);
        EXPECT_EQ(m.codeArray(), c.codes);
        EXPECT_EQ(m.statusArray(), c.statuses);
    }
    // Once a Toyota K-line reply with a message cut short, damaged or not counted by its length.
    EXPECT_EQ(fakes.logger->linesStartingWith("E:Invalid byte count on line, aborting.").size(),
              5u);
    EXPECT_EQ(fakes.logger->linesStartingWith("I:Unexpected line format, skipping line: ").size(),
              2u);
    EXPECT_EQ(fakes.logger->linesStartingWith("V:Improper response received  ").size(), 1u);
    // Each line decoded, and each Toyota K-line code, as the decoders log them.
    auto logged = [&](const std::string& line) {
        const Texts lines = fakes.logger->linesStartingWith(line);
        return std::count(lines.begin(), lines.end(), line);
    };
    EXPECT_EQ(logged("V:item: 81 04 56 00 80 00 00 00"), 1);
    EXPECT_EQ(logged("I:Unexpected line format, skipping line: 81"), 1);
    EXPECT_EQ(logged("V:item: 53 01 23 04 56"), 2);  // one PWM line each in two rows
    EXPECT_EQ(logged("V:Code: 0456"), 1);
}

TEST_F(DecodersTest, UdsRecordsAndTheHooksModuleClassesReplace) {
    Module m;
    m.addUdsCodeFromBytes({"01", "23", "45", "08"});
    m.addUdsCodeFromBytes({"01", "23", "45"});
    m.addUdsCodeFromBytes({"00", "00", "45", "08"});
    EXPECT_EQ(m.codeArray(), (Texts{"P0123-45"}));
    EXPECT_EQ(m.statusArray(), (Texts{"CONFIRMED"}));
    EXPECT_EQ(fakes.logger->linesStartingWith("E:Incorrect UDS code size: "),
              (Texts{"E:Incorrect UDS code size: 3"}));
    m.addDTCWithAByte(0x141, 0x23, "X");
    m.addDTCWithAByte(0, 0, "X");
    EXPECT_EQ(m.codeArray(), (Texts{"P0123-45", " 0123"}));

    // Every decoder hands its records to the instance's hooks.
    class Hooks : public Module {
      public:
        void addUdsCodeFromBytes(const std::vector<std::string>& bytes) override {
            seen.push_back("uds " + bytes[0] + bytes[1]);
        }
        void addDTCWithAByte(uint32_t a, uint32_t b, const std::string& status) override {
            seen.push_back("dtc " + std::to_string(a) + " " + std::to_string(b) + " " + status);
        }
        Texts seen;
    } h;
    h.decodeUds("7E8 07 59 02 FF 01 23 45 08\r\r>");
    h.decodeExtendedUds(extendedCanReply(udsPayload(records(2)), true));
    h.decodeToyotaDataCAN("53 01 01 23\r\r>", "S");
    h.decodeExtendedCANBroadcast("53 01 04 56\r\r>", false, "T");
    EXPECT_EQ(h.seen, (Texts{"uds 0123", "uds 0107", "uds 0842", "dtc 1 35 S", "dtc 4 86 T"}));
    EXPECT_TRUE(h.codeArray().empty());
}

TEST_F(DecodersTest, ChryslerJ2190Bitmaps) {
    Module count;
    EXPECT_EQ(count.countDTCsJ2190("81 00 FF"), 10);
    EXPECT_EQ(count.countDTCsJ2190("81 00"), 0);

    // Byte-major: byte 0 from 0x80 to 0x01, then byte 1, then byte 2.
    Module old;
    old.addCode("P0001", "S");
    EXPECT_EQ(old.decodeEnhancedCodesVPWChryslerJ2190Old("81 40 01"), 4);
    EXPECT_EQ(old.definitionArray(),
              (Texts{"RR WHEEL SENSOR SIGNAL FAILURE", "LF SENSOR CONTINUITY FAILURE",
                     "BUS SYSTEM COMMUNICATION", "BRAKE FLUID LEVEL SWITCH"}));
    EXPECT_EQ(old.codeArray(), (Texts{"P0001", "", "", ""}));
    EXPECT_EQ(old.statusArray(), (Texts{"S", "", "", ""}));
    Module shortOld;
    EXPECT_EQ(shortOld.decodeEnhancedCodesVPWChryslerJ2190Old("FF FF"), 0);
    EXPECT_TRUE(shortOld.definitionArray().empty());

    struct Case {
        int64_t year;
        int64_t id;
        const char* reply;
        Texts codes;
        Texts texts;
    };
    const std::vector<Case> cases = {
        {2001, 2, "00 00 80", {"02"}, {"Shorted LF Diode"}},
        {2002, 2, "00 00 80", {"41"}, {"Open ISO Coil RF"}},
        {2001,
         2,
         "00 85 00",
         {"", "43", "47"},
         {"UNKNOWN 9", "Shorted ISO Coil RF", "Shorted ISO Coil LF"}},
        {2002,
         2,
         "00 85 0D",
         {"43", "47", "", "", "45", ""},
         {"Shorted ISO Coil RF", "Shorted ISO Coil LF", "UNKNOWN 25", "UNKNOWN 26",
          "Open Dump Coil LF", "UNKNOWN 27"}},
        {2010,
         1,
         "C0 40 01",
         {"36", "32", "", "71"},
         {"Missing Sensor REAR", "Missing Sensor RR", "UNKNOWN 1", "RAM Incident"}},
        {2010,
         3,
         "40 01 01",
         {"63", "90", ""},
         {"Shuttled Reset Switch", "Shorted Sensor L", "UNKNOWN 25"}},
        {2010, 4, "FF FF FF", {}, {}},
        {2010, 1, "FF", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        fakes.vehicle->year = c.year;
        Module m;
        m.decodeEnhancedCodesVPWChryslerJ2190New(c.reply, c.id);
        EXPECT_EQ(m.codeArray(), c.codes);
        EXPECT_EQ(m.definitionArray(), c.texts);
        EXPECT_EQ(m.statusArray().size(), c.codes.size());
    }
    Module all;
    for (int64_t id : {1, 2, 3}) all.decodeEnhancedCodesVPWChryslerJ2190New("FF FF FF", id);
    EXPECT_EQ(all.codeArray().size(), 72u);
    EXPECT_EQ(all.statusArray().size(), 72u);
}

TEST_F(DecodersTest, EcuIdentification) {
    struct Case {
        const char* request;
        const char* reply;
        OptionalText id;
    };
    const std::vector<Case> cases = {
        {"1A86", "5A 86 01 02 03 04 05 06\r>", "0102030405"},
        {"1A86", "5A 00 5A 86 01 02 03 04 05", "0102030405"},
        {"1A86", "5A 86 01 02 03 04", std::nullopt},
        {"1A86", "5A 87 01 02 03 04 05", std::nullopt},
        {"1A87", "5A 87 01 02 03 04 05", "0304"},
        {"1A87", "5A 87 01 02 03", std::nullopt},
        // Read from the answer's message, whatever the display: headers off or on.
        {"22F100", "62 F1 00 11 22 33 44", "112233"},
        {"22F100", "7E8 07 62 F1 00 11 22 33 44 \r\r>", "112233"},
        {"22F100", "62 F1 00 11 22", std::nullopt},
        {"22F100", "7E8 06 62 F1 00 11 22 33 \r7E8 03 7F 22 31 \r\r>", "112233"},
        {"22F100", "7E8 10 08 62 F1 00 11 22 33 \r\r>", std::nullopt},  // its last frame lost
        {"22F100", "7E8 03 7F 22 31 \r\r>", std::nullopt},
        {"22F100", "NO DATA\r\r>", std::nullopt},
        {"3C00", "00B\r0: 7C 00 01 02 03 04 \r1: 05 06 07 08 09 \r\r>", "0102030405"},
        {"3C00", "7C 00 01 02 03 04", std::nullopt},
        {"1A90", "5A 90 01 02 03 04 05", std::nullopt},
    };
    Module m;
    for (const auto& c : cases)
        EXPECT_EQ(m.decodeEcuIdentificationWithRequest(c.request, c.reply), c.id)
            << c.request << " " << c.reply;
}

// Truncated and garbage replies: never a crash, never a code the full reply does not hold.
TEST_F(DecodersTest, TruncatedAndGarbageRepliesYieldOnlyRealCodes) {
    using Decode = std::function<void(Module&, const std::string&)>;
    const std::vector<std::pair<Decode, std::string>> decoders = {
        {[](Module& m, const std::string& r) {
             m.decodeKWP2000ResponseBytes(Module::cleanResponseString(r));
         },
         "83 F1 10 58 03 01 23 20 04 56 40 C1 00 60 C5"},
        {[](Module& m, const std::string& r) { m.decodeKWP2000CANResponse(r); },
         canReply({0x58, 3, 1, 0x23, 0x20, 4, 0x56, 0x40, 0xC1, 0, 0x60}, Headers::off)},
        {[](Module& m, const std::string& r) { m.decodeKWP2000CANResponse(r); },
         canReply({0x58, 3, 1, 0x23, 0x20, 4, 0x56, 0x40, 0xC1, 0, 0x60}, Headers::on)},
        {[](Module& m, const std::string& r) { m.decodeEnhancedCodesCANGMJ2012(r); },
         "5E8 81 01 23 45 92 00 00 00\r81 C1 00 00 10 00 00 00\r\r>"},
        {[](Module& m, const std::string& r) { m.decodeCodesPWMFordJ2012(r); },
         "53 01 23 04 56\r53 C1 00 81 11\r\r>"},
        {[](Module& m, const std::string& r) { m.decodeEnhancedCodesVPWGMJ2012(r); },
         "59 01 23 DA\r59 04 56 00\r\r>"},
        {[](Module& m, const std::string& r) { m.decodeToyotaDataCAN(r); },
         canReply({0x53, 4, 1, 0x23, 4, 0x56, 0xC1, 0, 0x81, 0x11}, Headers::off)},
        {[](Module& m, const std::string& r) { m.decodeToyotaDataCAN(r); },
         canReply({0x53, 4, 1, 0x23, 4, 0x56, 0xC1, 0, 0x81, 0x11}, Headers::onPadded)},
        {[](Module& m, const std::string& r) { m.decodeToyotaDataKLine(r); },
         "85 F1 10 53 01 23 04 56 AA\r84 F1 10 53 01 C1 00 AA\r\r>"},
        {[](Module& m, const std::string& r) { m.decodeExtendedCANBroadcast(r, false, ""); },
         canReply({0x53, 4, 1, 0x23, 4, 0x56, 0xC1, 0, 0x81, 0x11}, Headers::off)},
        {[](Module& m, const std::string& r) { m.decodeUds(r); },
         canReply(udsPayload(records(5)), Headers::off)},
        {[](Module& m, const std::string& r) { m.decodeUds(r); },
         canReply(udsPayload(records(5)), Headers::on)},
        {[](Module& m, const std::string& r) { m.decodeExtendedUds(r); },
         extendedCanReply(udsPayload(records(5)), true)},
    };
    for (const auto& [decode, full] : decoders) {
        Module whole;
        decode(whole, full);
        ASSERT_FALSE(whole.codeArray().empty()) << full;
        std::set<std::string> real(whole.codeArray().begin(), whole.codeArray().end());
        for (size_t cut = 0; cut <= full.size(); ++cut) {
            if (cut < full.size() && full[cut] != ' ' && full[cut] != '\r') continue;
            Module m;
            decode(m, full.substr(0, cut));
            for (const auto& code : m.codeArray())
                EXPECT_TRUE(real.count(code)) << code << " from " << full.substr(0, cut);
        }
    }

    // Garbage of every sort goes through every decoder without harm.
    std::mt19937 random(7);
    const Texts pieces = {
        "58", "59", "53",  "7F", "81",    "00", "FF",      "0:", "1:", "F:", "7E8",
        "10", "21", "0A3", "\r", "\r\r>", ">",  "NO DATA", "5A", "86", " ",  "1"};
    for (int i = 0; i < 3000; ++i) {
        std::string reply;
        int n = static_cast<int>(random() % 40);
        for (int k = 0; k < n; ++k) reply += pieces[random() % pieces.size()] + " ";
        Module m;
        for (const auto& entry : decoders) entry.first(m, reply);
        m.decodeEnhancedCodesVPWChryslerJ2190Old(reply);
        m.decodeEnhancedCodesVPWChryslerJ2190New(reply, 1 + i % 3);
        m.countDTCsJ2190(reply);
        m.decodeEcuIdentificationWithRequest(i % 2 ? "1A86" : "1A87", reply);
        EXPECT_EQ(m.codeArray().size(), m.statusArray().size()) << reply;
    }
}
