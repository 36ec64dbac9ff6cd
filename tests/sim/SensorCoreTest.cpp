#include <gtest/gtest.h>

#include "sim/SensorCore.hpp"

using namespace qz::sim;

namespace {

// Sends one command the way the library does and returns the descrambled reply text.
std::string ask(SensorCore& core, const std::string& command) {
    std::string text;
    for (const auto& out : core.receive(scramble(command + "\r")))
        if (out.kind == Output::Kind::Bytes) text += scrambleToString(out.bytes);
    return text;
}

VehicleProfile twoEcus() {
    return VehicleProfile::load(VehicleProfile::sampleFolder() / "two-ecus-can.json");
}

}  // namespace

TEST(SimScrambler, KeepsPromptAndCarriageReturnAndIsItsOwnInverse) {
    Bytes wire = scramble(std::string_view("KQD\r>"));
    EXPECT_EQ(wire, (Bytes{'K' ^ 0x5B, 'Q' ^ 0x5B, 'D' ^ 0x5B, 0x0D, 0x3E}));
    EXPECT_EQ(scrambleToString(wire), "KQD\r>");
    // Non-ASCII bytes scramble byte-wise.
    EXPECT_EQ(scramble(Bytes{0xC3, 0xA9}), (Bytes{0xC3 ^ 0x5B, 0xA9 ^ 0x5B}));
}

TEST(SimSensorCore, AnswersInitialisationCommands) {
    SensorCore core;
    EXPECT_EQ(ask(core, "KQD"), "OK\r>");
    EXPECT_EQ(ask(core, "KQI"), "OSAPI 4.05\r>");
    EXPECT_EQ(ask(core, "KQDP"), "6\r>");
    EXPECT_EQ(ask(core, "KQSP6"), "OK\r>");
    EXPECT_EQ(core.protocol(), "6");
    EXPECT_EQ(ask(core, "KQSM6E"), "OK\r>");
    EXPECT_EQ(ask(core, "KQX1"), "OK\r>");
    EXPECT_EQ(ask(core, "KQ BOGUS"), "?\r>");
    EXPECT_EQ(ask(core, "HELLO"), "?\r>");
    EXPECT_EQ(core.commands(), (std::vector<std::string>{"KQD", "KQI", "KQDP", "KQSP6", "KQSM6E",
                                                         "KQX1", "KQ BOGUS", "HELLO"}));
    // 'e' scrambles into '>' and 'V' into a carriage return, which the link leaves as they are.
    ask(core, "KQA$ config wifi p0 save");
    EXPECT_EQ(core.commands().back(), "KQA$ config wifi p0 sav>");
}

TEST(SimSensorCore, AnswersModeOneFromTheProfile) {
    SensorCore core;
    EXPECT_EQ(ask(core, "010C"), "1A F8 \r>");
    EXPECT_EQ(ask(core, "01 0d"), "32 \r>");
    EXPECT_EQ(ask(core, "0111"), "NO DATA\r>");
    EXPECT_EQ(ask(core, "0800"), "NO DATA\r>");
    // Support bitmap computed from the PIDs the unit holds: 01 05 0C 0D 1C 1F, and 20 (more).
    EXPECT_EQ(ask(core, "0100"), "88 18 00 13 \r>");
    EXPECT_EQ(ask(core, "0120"), "80 01 80 01 \r>");
    EXPECT_EQ(ask(core, "0140"), "00 0C 00 00 \r>");
    EXPECT_EQ(ask(core, "0160"), "NO DATA\r>");
}

TEST(SimSensorCore, MultipleResponsesAndHeaders) {
    SensorCore core(twoEcus());
    EXPECT_EQ(ask(core, "010D"), "32 \r>");
    ask(core, "KQX1");
    EXPECT_EQ(ask(core, "010D"), "32 \r31 \r>");
    EXPECT_EQ(ask(core, "0100"), "80 18 00 00 \r88 08 00 00 \r>");
    ask(core, "KQH1");
    EXPECT_EQ(ask(core, "010D"), "7E8 32 \r7E9 31 \r>");
    ask(core, "KQD");
    EXPECT_FALSE(core.headers());
    EXPECT_FALSE(core.multiResponse());
}

TEST(SimSensorCore, ModeNineAndCodeLists) {
    SensorCore core(twoEcus());
    EXPECT_EQ(ask(core, "0900"), "40 00 00 00 \r>");
    EXPECT_EQ(ask(core, "0902"), "01 57 56 57 5A 5A 5A 31 4B 5A 36 57 30 30 30 30 30 31 \r>");
    EXPECT_EQ(ask(core, "KQTC"), "P0301\rP0420\rU0100\r\r>");
    EXPECT_EQ(ask(core, "KQTCP"), "P0171\r\r>");
    EXPECT_EQ(ask(core, "KQTCA"), "P0420\r\r>");
    EXPECT_EQ(ask(core, "0101"), "83 07 65 04 \r>");
    EXPECT_EQ(ask(core, "KQCC"), "OK\r>");
    EXPECT_EQ(ask(core, "KQTC"), "NO DATA\r>");
    EXPECT_EQ(ask(core, "KQTCA"), "P0420\r\r>");
    // As in a car: the lamp off, no code counted, each supported monitor not complete again.
    EXPECT_EQ(ask(core, "0101"), "00 07 65 65 \r>");
}

TEST(SimSensorCore, EchoRepeatsTheCommand) {
    SensorCore core;
    EXPECT_EQ(ask(core, "KQE1"), "OK\r>");
    EXPECT_EQ(ask(core, "KQI"), "KQI\rOSAPI 4.05\r>");
    core.setEcho(false);
    EXPECT_EQ(ask(core, "KQI"), "OSAPI 4.05\r>");
}

TEST(SimSensorCore, CommandsMayArriveInPieces) {
    SensorCore core;
    EXPECT_TRUE(core.receive(scramble(std::string_view("01"))).empty());
    auto out = core.receive(scramble(std::string_view("0C\rKQ")));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(scrambleToString(out[0].bytes), "1A F8 \r>");
    out = core.receive(scramble(std::string_view("I\r")));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(scrambleToString(out[0].bytes), "OSAPI 4.05\r>");
}

TEST(SimSensorCore, FaultInjection) {
    SensorCore core;
    core.addFault(Fault::noData(2, "010C"));
    EXPECT_EQ(ask(core, "KQI"), "OSAPI 4.05\r>");
    EXPECT_EQ(ask(core, "010C"), "NO DATA\r>");
    EXPECT_EQ(ask(core, "010C"), "NO DATA\r>");
    EXPECT_EQ(ask(core, "010C"), "1A F8 \r>");

    core.addFault(Fault::silence());
    EXPECT_EQ(ask(core, "KQI"), "");
    EXPECT_EQ(ask(core, "KQI"), "OSAPI 4.05\r>");

    core.addFault(Fault::unknown(1, "KQI"));
    EXPECT_EQ(ask(core, "KQI"), "?\r>");

    core.addFault(Fault::trailing("XY"));
    EXPECT_EQ(ask(core, "KQD"), "OK\r>XY");

    core.addFault(Fault::reply("7E8 41 0C\r>"));
    EXPECT_EQ(ask(core, "010C"), "7E8 41 0C\r>");
    EXPECT_EQ(core.commands().back(), "010C");
}

TEST(SimSensorCore, SplitDelayAndDisconnect) {
    SensorCore core;
    core.addFault(Fault::split(3, 0.5));
    core.addFault(Fault::delay(1.0));
    core.addFault(Fault::disconnect(2.0));
    auto out = core.receive(scramble(std::string_view("KQI\r")));
    ASSERT_EQ(out.size(), 5u);
    std::string text;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(out[i].kind, Output::Kind::Bytes);
        EXPECT_DOUBLE_EQ(out[i].delay, 1.0 + 0.5 * i);
        text += scrambleToString(out[i].bytes);
        EXPECT_EQ(text.find('>') != std::string::npos, i == 2);
    }
    EXPECT_EQ(text, "OSAPI 4.05\r>");
    EXPECT_EQ(out[3].kind, Output::Kind::Disconnect);
    EXPECT_DOUBLE_EQ(out[3].delay, 2.0);
    EXPECT_EQ(out[4].kind, Output::Kind::Reappear);
    EXPECT_DOUBLE_EQ(out[4].delay, 4.0);
}

TEST(SimSensorCore, ProbeIsIgnoredOutsideRecoveryAndAnsweredInRecovery) {
    SensorCore normal;
    EXPECT_TRUE(normal.receive(SensorCore::recoveryProbe()).empty());
    EXPECT_EQ(ask(normal, "KQI"), "OSAPI 4.05\r>");
    EXPECT_EQ(normal.commands(), std::vector<std::string>{"KQI"});

    SensorCore recovering(VehicleProfile::load(VehicleProfile::sampleFolder() / "recovery.json"));
    EXPECT_TRUE(recovering.firmwareMode());
    // Commands get no answer; the probe that follows them is still found.
    EXPECT_TRUE(recovering.receive(scramble(std::string_view("KQD\r"))).empty());
    auto out = recovering.receive(SensorCore::recoveryProbe());
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(scrambleToString(out[0].bytes), "s");
}

TEST(SimSensorCore, FirmwareFramesAreAcknowledgedRaw) {
    SensorCore core;
    core.setFirmwareMode(true);
    Bytes block;
    auto frame = [&](uint8_t type) {
        block.push_back(type);
        block.insert(block.end(), 14, 0xAA);
    };
    frame(0x01);
    frame(0x02);
    frame(0x02);
    frame(0x04);
    // A block split mid-frame is acknowledged frame by frame.
    auto first = core.receive(Bytes(block.begin(), block.begin() + 20));
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(toString(first[0].bytes), "C");
    auto rest = core.receive(Bytes(block.begin() + 20, block.end()));
    ASSERT_EQ(rest.size(), 3u);
    EXPECT_EQ(toString(rest[0].bytes), "KKD");
    EXPECT_EQ(core.firmwareFrames().size(), 4u);
    // After the last frame the sensor restarts into command mode: link down, then back.
    EXPECT_EQ(rest[1].kind, Output::Kind::Disconnect);
    EXPECT_EQ(rest[2].kind, Output::Kind::Reappear);
    EXPECT_GT(rest[2].delay, rest[1].delay);
    EXPECT_FALSE(core.firmwareMode());
    EXPECT_EQ(core.reboots(), 1);
}

TEST(SimSensorCore, HandlersExtendTheCommandLanguage) {
    SensorCore core;
    core.addHandler([](const std::string& cmd) -> std::optional<std::string> {
        if (cmd == "22F190") return "62 F1 90 ";
        return std::nullopt;
    });
    EXPECT_EQ(ask(core, "22 F1 90"), "62 F1 90 \r>");
    EXPECT_EQ(ask(core, "KQI"), "OSAPI 4.05\r>");
}

TEST(SimVehicleProfile, ReadsTheDocumentedSchemaAndRejectsMalformedOnes) {
    auto p = VehicleProfile::fromText(R"({
        "sensor": { "version": "4.10", "bus": 7, "recovery": false, "echo": true },
        "vin": "1HGCM82633A004352",
        "ecus": [ { "address": "18DAF110", "mode1": { "0c": "1a f8" },
                    "stored": ["P0420"], "pending": [], "permanent": [] } ],
        "future": { "section": "extension" } })");
    EXPECT_EQ(p.version, "4.10");
    EXPECT_EQ(p.bus, 7);
    EXPECT_TRUE(p.echo);
    ASSERT_EQ(p.ecus.size(), 1u);
    EXPECT_EQ(p.ecus[0].mode1.at(0x0C), "1A F8");
    EXPECT_EQ(p.raw["future"]["section"], "extension");

    EXPECT_THROW(VehicleProfile::fromText("{"), std::invalid_argument);
    EXPECT_THROW(VehicleProfile::fromText(R"({"ecus": [ { "mode1": {} } ]})"),
                 std::invalid_argument);
    EXPECT_THROW(VehicleProfile::fromText(R"({"ecus": [ { "address": "7E8",
                 "mode1": { "0C": "1AF8" } } ]})"),
                 std::invalid_argument);
    EXPECT_THROW(VehicleProfile::load("/nonexistent/profile.json"), std::runtime_error);

    // Every shipped sample loads.
    for (const auto& entry : std::filesystem::directory_iterator(VehicleProfile::sampleFolder()))
        EXPECT_NO_THROW(VehicleProfile::load(entry.path())) << entry.path();
}
