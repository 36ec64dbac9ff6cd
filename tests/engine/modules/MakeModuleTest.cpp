// What the BMW, Nissan, Mercedes, Volkswagen-group, Mitsubishi and Subaru module classes do on
// their own, against a scripted sensor: reply layouts, TP2.0 reassembly, fault numbers, detail
// codes, variants, extended addressing, pins and the K-line rest.

#include <gtest/gtest.h>

#include "lib/Descriptions/QZESubaruCodeStore.hpp"
#include "lib/Descriptions/QZEVagTroubleCodeStore.hpp"
#include "lib/Modules/Makes/Bmw.hpp"
#include "lib/Modules/Makes/Mercedes.hpp"
#include "lib/Modules/Makes/Subaru.hpp"
#include "lib/Modules/Makes/Vag.hpp"
#include "support/EngineFakes.hpp"

using namespace qz;
using namespace qz::testsupport;

namespace {

using Texts = std::vector<std::string>;

class MakeModuleTest : public ::testing::Test {
  protected:
    MakeModuleTest() {
        fakes.useVehicle(vehicle);
        fakes.settings->version = 408;
    }
    // What the module sent, in order ("KQ..." set-up commands and requests alike).
    Texts sent() const {
        Texts out;
        for (const auto& e : fakes.events->events()) {
            if (e.starts_with("send:")) out.push_back(e.substr(5));
            if (e.starts_with("setup:")) out.push_back(e.substr(6));
        }
        return out;
    }
    static QZEModuleData moduleAt(const std::string& request, const std::string& response) {
        QZEModuleData module;
        module.setRequestId(request);
        module.setResponseId(response);
        return module;
    }
    static Texts codesWithStatus(const QZEDiagnosticModule& m) {
        Texts out;
        for (size_t i = 0; i < m.codeArray().size(); ++i)
            out.push_back(m.codeArray()[i] + " " + m.statusArray()[i]);
        return out;
    }

    EngineFakes fakes;
    std::shared_ptr<PinTrackingVehicle> vehicle =
        std::make_shared<PinTrackingVehicle>(fakes.events);
};

}  // namespace

TEST(MakeModuleLayouts, KLineAndExtendedMessagesLoseTheirFraming) {
    struct Case {
        const char* reply;
        QZEFraming framing;
        const char* request;
        std::vector<Texts> messages;
    };
    const auto kLine = QZEFraming::kLine;
    const Case cases[] = {
        // length in the format byte; the source may equal the response byte
        {"83 F1 58 58 00 00 24 \r\r>", kLine, "18", {{"58", "00", "00"}}},
        // length byte after the source
        {"80 F1 28 03 54 FF 00 EF \r\r>", kLine, "14", {{"54", "FF", "00"}}},
        {"80 F1 40 02 71 01 25 \r\r>", kLine, "31", {{"71", "01"}}},
        // headers off, one message per line; the pending answer is none
        {"58 01 01 23 20 \r7F 18 78 \r\r>", kLine, "18", {{"58", "01", "01", "23", "20"}}},
        {"58 01 01 23 20 \r58 00 \r\r>",
         kLine,
         "18",
         {{"58", "01", "01", "23", "20"}, {"58", "00"}}},
        {"NO DATA\r>", kLine, "18", {}},
        {"83 F1", kLine, "18", {}},
        // Extended addressing: the address byte in front of every frame, the identifier skipped.
        {"612 F1 10 0B 59 02 FF 29 CC \rF1 21 00 08 2A 82 12 8C \r\r>",
         QZEFraming::canExtended,
         "19",
         {{"59", "02", "FF", "29", "CC", "00", "08", "2A", "82", "12", "8C"}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(
            QZEModuleReply::classify(c.reply, QZEAsked::of(c.request, c.framing, {})).messages,
            c.messages)
            << c.reply;
    EXPECT_EQ(QZEModuleReply::classify("F1 03 7F 19 78 \r\r>",
                                       QZEAsked::of("19", QZEFraming::canExtended, {}))
                  .kind,
              QZEReplyKind::pending);
    // A record cut short is left out.
    auto records = QZEMakeModule::kwpRecords({"58", "03", "01", "23", "20", "45", "67"});
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].a, 0x01);
    EXPECT_EQ(records[0].status, 0x20);
}

TEST(MakeModuleLayouts, Tp2FramesAreReassembledAcrossRepliesAndAcknowledgements) {
    struct Case {
        const char* name;
        Texts replies;  // fed in order
        bool complete, ackNeeded, broken;
        int ackSequence;
        Texts message;
    };
    const Case cases[] = {
        {"one reply, last frame wants an acknowledgement",
         {"300 B1 \r20 00 08 58 02 41 2C 20 \r11 45 11 60 \r\r>"},
         true,
         true,
         false,
         2,
         {"58", "02", "41", "2C", "20", "45", "11", "60"}},
        {"a block that waits for an acknowledgement, then the rest",
         {"300 00 00 0A 58 03 01 1B 20 \r\r>", "300 31 45 11 60 01 00 \r\r>"},
         true,
         false,
         false,
         2,
         {"58", "03", "01", "1B", "20", "45", "11", "60", "01", "00"}},
        {"a frame out of sequence",
         {"20 00 08 58 02 41 2C 20 \r13 45 11 60 \r\r>"},
         false,
         false,
         true,
         0,
         {"58", "02", "41", "2C", "20"}},
        {"the last frame short of the length",
         {"10 00 09 58 02 41 2C 20 \r\r>"},
         false,
         false,
         true,
         0,
         {"58", "02", "41", "2C", "20"}},
        {"no data frame at all", {"NO DATA\r>"}, false, false, true, 0, {}},
    };
    for (const auto& c : cases) {
        QZETp2Assembler assembler;
        QZETp2Assembler::Step step;
        for (const auto& reply : c.replies) step = assembler.feed(reply);
        EXPECT_EQ(step.complete, c.complete) << c.name;
        EXPECT_EQ(step.broken, c.broken) << c.name;
        if (!c.broken) {
            EXPECT_EQ(step.ackNeeded, c.ackNeeded) << c.name;
            EXPECT_EQ(step.ackSequence, c.ackSequence) << c.name;
        }
        EXPECT_EQ(assembler.message(), c.message) << c.name;
    }
}

TEST_F(MakeModuleTest, VagFaultNumbersMapThroughTheModuleStoreThenTheGlobalOne) {
    QZEVagTroubleCodeStore module;
    module.addDfcc("16684", "P0300", "Misfire seen by this unit");
    module.addDfcc("00283", "C1130", "Wheel speed sensor left front signal faulty");
    QZEVagGlobalTroubleCodeStore global;  // the shipped "global" section
    struct Case {
        int a, b;
        const char* code;
        const char* definition;
    };
    const Case cases[] = {
        {0x41, 0x2C, "P0300", "Misfire seen by this unit"},  // 16684, module first
        {0x01, 0x1B, "C1130", "Wheel speed sensor left front signal faulty"},  // "00283"
        {0x03, 0x01, "P0301", "Cylinder 1 misfire detected"},                  // 769, global
        {0xC1, 0x55, "U0155", "Lost communication with instrument panel cluster control module"},
        {0x12, 0x34, "P1234", ""},  // no store lists it: the code of its bytes
    };
    for (const auto& c : cases) {
        auto code = vagCodeForFaultNumber(c.a, c.b, &module, &global);
        EXPECT_EQ(code.code, c.code) << c.a << " " << c.b;
        EXPECT_EQ(code.definition, c.definition) << c.code;
    }
    EXPECT_EQ(vagCodeForFaultNumber(0x41, 0x2C, nullptr, nullptr).code, "C012C");
}

TEST(MakeModuleLayouts, AMercedesUnitsVariantIsTheOneItsIdentificationNames) {
    auto variant = [](const char* name, const char* keys) {
        auto m = std::make_shared<QZEModuleData>();
        m->setAccronym(name);
        m->setExtra("MBDIAGKEYS", keys);
        return m;
    };
    QZEModuleData merged;
    merged.setExtra("MBVARIANTS", QZEValue::List{QZEValue(variant("ME97", "0D11,3220,0D13,3221,")),
                                                 QZEValue(variant("CDID", "0205,6320,"))});
    const auto variants = QZEMercedesCANDiagnosticModule::variantsOf(merged);
    ASSERT_EQ(variants.size(), 2u);
    auto pick = [&](std::optional<std::string> id) {
        return QZEMercedesCANDiagnosticModule::variantFor(variants, id)->accronym().value_or("");
    };
    EXPECT_EQ(pick("0D1332"), "ME97");
    EXPECT_EQ(pick("020563"), "CDID");
    EXPECT_EQ(pick("777777"), "ME97") << "no match: the first variant";
    EXPECT_EQ(pick(std::nullopt), "ME97");
    QZEModuleData single;
    EXPECT_EQ(QZEMercedesCANDiagnosticModule::variantsOf(single).front(), &single);
}

// A TP2.0 read: the channel opened at the call-up identifier, its parameters, the request, an
// acknowledgement for each block the module waits on, and the channel closed; the codes by fault
// number.
TEST_F(MakeModuleTest, AVagTp2ReadOpensTheChannelAndAcknowledgesEveryBlock) {
    vehicle->script("01 C0 00 10 00 03 01", {"201 00 D0 00 03 40 07 01 \r\r>"});
    vehicle->script("A0 0F 8A FF 32 FF", {"300 A1 0F 8A FF 4A FF \r\r>"});
    vehicle->script("10 00 04 18 00 FF 00", {"300 B1 \r00 00 08 58 02 41 2C 20 \r\r>"});
    vehicle->script("B1", {"300 11 03 01 60 \r\r>"});
    vehicle->script("A8", {"300 A8 \r\r>"});
    QZEVAGCanModule module(std::make_shared<QZEVagGlobalTroubleCodeStore>());
    auto record = moduleAt("7E0", "7E8");
    record.setExtra("TP2", "01");
    record.setExtra("CallUp", "201");
    EXPECT_TRUE(module.scanCodes(record));
    EXPECT_EQ(sent(), (Texts{"KQSH200", "KQCF201", "01 C0 00 10 00 03 01", "KQSH740", "KQCF300",
                             "A0 0F 8A FF 32 FF", "10 00 04 18 00 FF 00", "B1", "B2", "A8"}));
    EXPECT_EQ(codesWithStatus(module), (Texts{"P0300 STORED", "P0301 ACTIVE"}));
    EXPECT_EQ(module.definitionArray(), (Texts{"Random or multiple cylinder misfire detected",
                                               "Cylinder 1 misfire detected"}));
    EXPECT_FALSE(module.retryEnabled());
    EXPECT_EQ(module.responseState(), ResponseStateHasData);

    // A unit that opens the channel but refuses the code read has answered negatively only.
    vehicle->script("10 00 04 18 00 FF 00", {"300 B1 \r10 00 03 7F 18 12 \r\r>"});
    QZEVAGCanModule refusing;
    EXPECT_FALSE(refusing.scanCodes(record));
    EXPECT_EQ(refusing.responseState(), ResponseStateHasNakData);

    // No channel: nothing more is sent.
    fakes.events->clear();
    record.setExtra("TP2", "02");
    EXPECT_FALSE(QZEVAGCanModule().scanCodes(record));
    EXPECT_EQ(sent(), (Texts{"KQSH200", "KQCF201", "02 C0 00 10 00 03 01"}));
}

// BMW on CAN: the module's address in front of the request behind the scan's 6F1 header, with
// headers shown around the exchange.
TEST_F(MakeModuleTest, BmwCanReadsAndClearsWithExtendedAddressing) {
    vehicle->script("12 19 02 FF", {"612 F1 03 7F 19 78 \r\r>",
                                    "612 F1 10 0B 59 02 FF 29 CC \rF1 21 00 08 2A 82 12 8C \r\r>"});
    vehicle->script("12 14 FF FF FF", {"612 F1 01 54 \r\r>"});
    QZEBmwCanDiagnosticModule module;
    auto record = moduleAt("12", "12");
    EXPECT_TRUE(module.scanCodes(record));
    EXPECT_EQ(sent(), (Texts{"KQH1", "12 19 02 FF", "12 19 02 FF", "KQH0"}));
    EXPECT_EQ(fakes.eventsOf("sleep:"), (Texts{"sleep:5"})) << "the pending answer's pause";
    EXPECT_EQ(codesWithStatus(module),
              (Texts{"P29CC-00 CONFIRMED", "P2A82-12 MIL/CONFIRMED/PENDING"}));
    EXPECT_EQ(module.responseState(), ResponseStateHasData);
    EXPECT_TRUE(QZEBmwCanDiagnosticModule().clearCodes(record));

    // Another module's late answer first: set aside (logged), and the module asked again.
    vehicle->script("12 19 02 FF", {"618 F1 03 59 02 FF \r\r>",
                                    "612 F1 10 0B 59 02 FF 29 CC \rF1 21 00 08 2A 82 12 8C \r\r>"});
    QZEBmwCanDiagnosticModule late;
    auto named = record;
    named.setAccronym(std::string("DME"));
    EXPECT_TRUE(late.scanCodes(named));
    EXPECT_EQ(codesWithStatus(late),
              (Texts{"P29CC-00 CONFIRMED", "P2A82-12 MIL/CONFIRMED/PENDING"}));
    EXPECT_EQ(late.readOutcome(), QZEReadOutcome::complete);
    EXPECT_EQ(fakes.logger->count("W:answer from 618 set aside for DME (12)"), 1u);

    // Busy to the end: no codes, the read incomplete, negative answers kept as such.
    vehicle->script("12 19 02 FF", {"612 F1 03 7F 19 21 \r\r>"});
    QZEBmwCanDiagnosticModule busy;
    EXPECT_FALSE(busy.scanCodes(record));
    EXPECT_EQ(busy.readOutcome(), QZEReadOutcome::incomplete);
    EXPECT_EQ(busy.responseState(), ResponseStateHasNakData);
}

// BMW on K-line: the pin of the pin read, the method's header and request; after a good read
// the pins it answered on, and the rest before the first exchange only once.
TEST_F(MakeModuleTest, BmwKlineNotesThePinsOfAGoodReadAndRestsOnceWhenAsked) {
    // The switch to the K-line protocol after the scanner's pin switch moved the pins to 7/0.
    vehicle->protocol = "5";
    vehicle->highPin = 7;
    vehicle->lowPin = 0;
    vehicle->script("18 00 FF 00", {"58 01 9E 10 20 \r\r>"});
    QZEBmwKlineDiagnosticModule module;
    module.setUseAlternateMethod(true);
    module.setDelayTransmission(true);
    module.setHighPin(8);
    auto record = moduleAt("78", "78");
    EXPECT_TRUE(module.scanCodes(record));
    EXPECT_EQ(sent(), (Texts{"KQSM80", "KQSH8178F1", "18 00 FF 00"}));
    EXPECT_EQ(fakes.eventsOf("sleep:"), (Texts{"sleep:2"}));
    EXPECT_FALSE(module.delayTransmission());
    EXPECT_EQ(record.extra("RESPONSE_PIN_COMMAND"), QZEValue("80"));
    EXPECT_EQ(codesWithStatus(module), (Texts{"B1E10 STORED"}));

    // The ordinary method on another module that does not answer: no pins noted, no rest.
    fakes.events->clear();
    QZEBmwKlineDiagnosticModule ordinary;
    auto silent = moduleAt("12", "12");
    EXPECT_FALSE(ordinary.scanCodes(silent));
    EXPECT_EQ(sent(), (Texts{"KQSH8012F1", "18 02 FF FF"}));
    EXPECT_TRUE(silent.extra("RESPONSE_PIN_COMMAND").isNull());
    EXPECT_TRUE(fakes.eventsOf("sleep:").empty());
}

// A module whose protocol differs from the one in force keeps the pins the scanner selected,
// unless it names its own; both are put back afterwards.
TEST_F(MakeModuleTest, AProtocolSwitchKeepsThePinsOfThePinRead) {
    vehicle->protocol = "5";
    vehicle->highPin = 13;
    vehicle->lowPin = 0;
    vehicle->script("18 02 FF 00", {"82 F1 10 58 00 DB \r\r>"});
    QZEMercedesMBISODiagModule mbIso;
    auto record = moduleAt("10", "10");
    record.setExtra("protocol", "3");
    record.setExtra("readoutCmd", "18 02 FF 00");
    EXPECT_TRUE(mbIso.scanCodes(record));
    EXPECT_EQ(sent(), (Texts{"KQSP3", "KQSMD0", "KQSH8110F1", "18 02 FF 00", "KQSP5", "KQSMD0"}));
    EXPECT_EQ(record.extra("RESPONSE_PIN_COMMAND"), QZEValue("D0"));

    fakes.events->clear();
    vehicle->protocol = "3";
    record.setExtra("protocol", "5");
    record.setExtra("pins", "80");
    EXPECT_TRUE(QZEMercedesMBISODiagModule().scanCodes(record));
    EXPECT_EQ(sent(), (Texts{"KQSP5", "KQSM80", "KQSH8110F1", "18 02 FF 00", "KQSP3", "KQSMD0"}));
    EXPECT_EQ(record.extra("RESPONSE_PIN_COMMAND"), QZEValue("80"));
}

// Subaru detail codes: three code bytes (CAN) or two (K-line), else the J2012 code, in the
// module's store; the code the store gives with its text.
TEST_F(MakeModuleTest, SubaruDetailCodesGiveTheCodeAndItsText) {
    auto store = std::make_shared<QZESubaruCodeStore>();
    store->addDetailCode("013016", "P0130");
    store->addDetailCode("C0021", "C0021", "Right front wheel speed sensor signal abnormal");
    store->addDetailCode("1152", "P1152", "Front oxygen sensor circuit low, bank 1");

    QZESubaruCanDiagnosticModule can;
    vehicle->script("19 02 FF", {"7E8 10 0F 59 02 FF 01 30 16 \r21 08 40 21 00 09 12 34 \r22 "
                                 "56 04 \r\r>"});
    auto record = moduleAt("7E0", "7E8");
    record.setExtra("SUBARU_CODE_STORE", QZEValue(store));
    EXPECT_TRUE(can.scanCodes(record));
    EXPECT_EQ(codesWithStatus(can), (Texts{"P0130 CONFIRMED", "C0021 CONFIRMED", "P1234 PENDING"}));
    EXPECT_EQ(can.definitionArray(), (Texts{"Oxygen sensor circuit, bank 1 sensor 1",
                                            "Right front wheel speed sensor signal abnormal", ""}));
    EXPECT_EQ(sent(), (Texts{"KQSH7E0", "KQCF7E8", "KQH1", "19 02 FF", "KQH0"}));
    can.addUdsCodeFromBytes({"01", "30", "16"});
    EXPECT_EQ(fakes.logger->linesStartingWith("E:Incorrect UDS code size: 3").size(), 1u);

    QZESubaruKlineDiagnosticModule kLine;
    vehicle->script("18 00 FF 00", {"58 02 11 52 40 00 31 20 \r\r>"});
    auto kRecord = moduleAt("10", "10");
    kRecord.setExtra("SUBARU_CODE_STORE", QZEValue(store));
    EXPECT_TRUE(kLine.scanCodes(kRecord));
    EXPECT_EQ(codesWithStatus(kLine), (Texts{"P1152 PENDING", "P0031 STORED"}));
    EXPECT_EQ(kLine.definitionArray(), (Texts{"Front oxygen sensor circuit low, bank 1", ""}));
}

// Mercedes on CAN: KWP2000 units identify through "1A 87"; a K-line unit listed with the CAN
// units is read on its K-line protocol and the vehicle's CAN protocol comes back afterwards.
TEST_F(MakeModuleTest, MercedesCanReadsKwpUnitsByVariantAndKLineUnitsOnKLine) {
    struct CanBus : FakeSettings {
        int64_t obd2Protocol() override { return 6; }
    };
    fakes.crew.registerQZDataAdapter(std::make_shared<CanBus>());
    auto variant = [](const char* name, const char* keys, QZEDictionary codes) {
        auto m = std::make_shared<QZEModuleData>();
        m->setAccronym(name);
        m->setExtras(QZEDictionary{
            {"MBDIAGKEYS", keys}, {"PROTOCOL", "KWP_CAN"}, {"dtcsDict", QZEValue(codes)}});
        return m;
    };
    auto merged = moduleAt("$7E0", "$7E8");
    merged.setExtras(QZEDictionary{
        {"PROTOCOL", "KWP_CAN"},
        {"MBVARIANTS",
         QZEValue::List{QZEValue(variant("ME20", "0102,0001,", {{"P0100", "Petrol air flow"}})),
                        QZEValue(variant("CR3", "0204,0011,", {{"P0100", "Diesel air flow"}}))}}});
    vehicle->script("1A87", {"7E8 06 5A 87 01 02 02 04 \r\r>"});
    vehicle->script("18 02 FF 00", {"7E8 05 58 01 01 00 E0 \r\r>"});
    QZEMercedesCANDiagnosticModule can;
    EXPECT_TRUE(can.scanCodes(merged));
    EXPECT_EQ(sent(), (Texts{"KQSH7E0", "KQCF7E8", "KQH1", "1A87", "18 02 FF 00", "KQH0"}));
    EXPECT_EQ(codesWithStatus(can), (Texts{"P0100 MIL/PRESENT"}));
    EXPECT_EQ(can.definitionArray(), (Texts{"Diesel air flow"}));

    // An identification that stops before its end, every time it is asked, identifies nothing:
    // the unit's codes with the texts of its first variant, the read not whole.
    fakes.events->clear();
    vehicle->script("1A87", {ScriptedVehicle::stalled("7E8 06 5A 87 01 02 02 04 \r")});
    QZEMercedesCANDiagnosticModule unidentified;
    EXPECT_TRUE(unidentified.scanCodes(merged));
    EXPECT_EQ(sent(),
              (Texts{"KQSH7E0", "KQCF7E8", "KQH1", "1A87", "1A87", "1A87", "18 02 FF 00", "KQH0"}));
    EXPECT_EQ(codesWithStatus(unidentified), (Texts{"P0100 MIL/PRESENT"}));
    EXPECT_EQ(unidentified.definitionArray(), (Texts{"Petrol air flow"}));
    EXPECT_EQ(unidentified.readOutcome(), QZEReadOutcome::incomplete);

    fakes.events->clear();
    vehicle->protocol = "6";
    auto airmatic = moduleAt("$2C", "$2C");
    airmatic.setExtra("PROTOCOL", "KWFB");
    vehicle->script("18 02 FF 00", {"58 01 90 00 40 \r\r>"});
    QZEMercedesCANDiagnosticModule kLineUnit;
    EXPECT_TRUE(kLineUnit.scanCodes(airmatic));
    EXPECT_EQ(sent(), (Texts{"KQSP4", "KQSH812CF1", "18 02 FF 00", "KQSP6"}));
    EXPECT_EQ(codesWithStatus(kLineUnit), (Texts{"B1000 INTERMITTENT"}));

    // A unit that identifies itself but refuses the code read has answered negatively only.
    vehicle->script("1A87", {"7E8 06 5A 87 01 02 02 04 \r\r>"});
    vehicle->script("18 02 FF 00", {"7E8 03 7F 18 12 \r\r>"});
    QZEMercedesCANDiagnosticModule refusing;
    EXPECT_FALSE(refusing.scanCodes(merged));
    EXPECT_EQ(refusing.responseState(), ResponseStateHasNakData);

    // Identifiers written in decimal (2016, 2024 are 7E0, 7E8): the answer shown from 7E8 is the
    // unit's.
    auto decimal = moduleAt("2016", "2024");
    decimal.setExtra("PROTOCOL", "KWP_CAN");
    vehicle->script("18 02 FF 00", {"7E8 05 58 01 01 00 E0 \r\r>"});
    QZEMercedesCANDiagnosticModule decimalIds;
    EXPECT_TRUE(decimalIds.scanCodes(decimal));
    EXPECT_EQ(codesWithStatus(decimalIds), (Texts{"P0100 MIL/PRESENT"}));
}

// A Mercedes K-line unit read with both methods: a refusal or a cut in the first that the second
// reads whole leaves the unit whole; the read is incomplete only when the last method fails too.
TEST_F(MakeModuleTest, MercedesKLineMethodsFailOnlyWhenTheLastFails) {
    // Two codes announced, the line cut after the first (7 bytes its header gives, 5 came).
    const std::string cut = "87 F1 10 58 02 01 00 E0 \r\r>";
    const struct {
        const char* name;
        std::string kwp2000, kwfb;  // the answers to "18 02 FF FF" and "18 02 FF 00"
        bool ok;
        Texts codes;
        QZEReadOutcome outcome;
    } cases[] = {
        {"the first whole",
         "58 01 01 00 E0 \r\r>",
         "NO DATA\r>",
         true,
         {"P0100 MIL/PRESENT"},
         QZEReadOutcome::complete},
        {"the first cut, the second whole",
         cut,
         "58 01 90 00 40 \r\r>",
         true,
         {"B1000 INTERMITTENT"},
         QZEReadOutcome::complete},
        {"the first refused, the second whole",
         "7F 18 11 \r\r>",
         "58 01 90 00 40 \r\r>",
         true,
         {"B1000 INTERMITTENT"},
         QZEReadOutcome::complete},
        {"the first cut, the second silent",
         cut,
         "NO DATA\r>",
         true,
         {"P0100 MIL/PRESENT"},
         QZEReadOutcome::incomplete},
        {"both refused", "7F 18 11 \r\r>", "7F 18 12 \r\r>", false, {}, QZEReadOutcome::complete},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        vehicle->script("18 02 FF FF", {c.kwp2000});
        vehicle->script("18 02 FF 00", {c.kwfb});
        QZEMercedesKlineDiagnosticModule unit;
        unit.setPerformAllMethodScan(true);
        auto record = moduleAt("10", "10");
        EXPECT_EQ(unit.scanCodes(record), c.ok);
        EXPECT_EQ(codesWithStatus(unit), c.codes);
        EXPECT_EQ(unit.readOutcome(), c.outcome);
    }
}
