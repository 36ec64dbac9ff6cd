// What the module classes of GM, Chrysler, Ford, Toyota, Honda and Hyundai do beyond their
// table rows: addressing, bus and pin selection, K-line headers, bit-encoded tables, J2190
// bitmaps, two-digit codes, the pins a module answered on, the start delay and the key-cycle
// prompt. The sensor is scripted (EngineFakes); replies are printed as the sensor prints them.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "lib/Decoders/QZEBitEncodedAddress.hpp"
#include "lib/Facades/QZEData.hpp"
#include "lib/Modules/Makes/Chrysler.hpp"
#include "lib/Modules/Makes/Ford.hpp"
#include "lib/Modules/Makes/Gm.hpp"
#include "lib/Modules/Makes/Honda.hpp"
#include "lib/Modules/Makes/Hyundai.hpp"
#include "lib/Modules/Makes/Mitsubishi.hpp"
#include "lib/Modules/Makes/Toyota.hpp"
#include "platform/NotificationCenter.hpp"
#include "sim/SensorDisplay.hpp"
#include "sim/SimTestSupport.hpp"
#include "support/EngineFakes.hpp"

using namespace qz;
using namespace qz::testsupport;

namespace {

using Texts = std::vector<std::string>;

sim::display::Message bytesOf(const std::string& hex) {
    sim::display::Message out;
    for (size_t i = 0; i + 1 < hex.size();) {
        if (hex[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

// A K-line answer with headers on, from the unit at `source`.
std::string kline(uint8_t source, const std::string& payload, bool lengthInFormat = true) {
    return sim::display::kLineAnswer({bytesOf(payload)},
                                     {true, 0x80, lengthInFormat, 0xF1, source}) +
           "\r>";
}

// A CAN answer with headers off; with an address, as a unit behind a gateway sends it.
std::string can(const std::string& payload, std::optional<uint8_t> address = {}) {
    return sim::display::canAnswer({bytesOf(payload)}, {"758", false, false, address}) + "\r>";
}

class Session : public QZESessionProtocol {
  public:
    OptionalText vin;
    OptionalText activeVin() override { return vin; }
    int64_t activeProtocol() override { return 4; }
};

class ModuleClassesTest : public ::testing::Test {
  protected:
    ModuleClassesTest() {
        fakes.useVehicle(vehicle);
        fakes.crew.registerSessionAdapter(session);
        vehicle->protocol = "5";
        vehicle->highPin = 7;
    }
    ~ModuleClassesTest() override {
        fakes.crew.registerSessionAdapter(nullptr);
        QZEHondaKlineDiagnosticModule::setDIAGH(false);
    }

    EngineFakes fakes;
    std::shared_ptr<PinTrackingVehicle> vehicle =
        std::make_shared<PinTrackingVehicle>(fakes.events);
    std::shared_ptr<Session> session = std::make_shared<Session>();
};

QZEModuleData moduleAt(const std::string& request, const std::string& response,
                       QZEDictionary extras = {}) {
    QZEModuleData m;
    m.setAccronym("M");
    m.setRequestId(request);
    m.setResponseId(response);
    m.setBusType("1");
    if (!extras.empty()) m.setExtras(std::move(extras));
    return m;
}

struct Code {
    std::string code, status, text;
    friend bool operator==(const Code&, const Code&) = default;
};

std::vector<Code> codesOf(const QZEBaseDiagnosticModule& m) {
    std::vector<Code> out;
    for (size_t i = 0; i < m.codeArray().size(); ++i)
        out.push_back({m.codeArray()[i], i < m.statusArray().size() ? m.statusArray()[i] : "?",
                       i < m.definitionArray().size() ? m.definitionArray()[i] : "?"});
    return out;
}

void PrintTo(const Code& c, std::ostream* os) {
    *os << c.code << " [" << c.status << "] " << c.text;
}

std::shared_ptr<QZEBitEncodedAddress> hondaTable() {
    auto table = std::make_shared<QZEBitEncodedAddress>();
    table->setBit(0, 0x20, "11", "Right front wheel speed sensor");
    table->setBit(2, 0x20, "1-1", "Inflator circuit open");
    table->setBit(3, 0x20, "1-2", "Inflator circuit short");
    table->setBit(1, 0x21, "31", "Inlet valve", std::string("ACTIVE"));
    return table;
}

}  // namespace

// One read or clear per row: the commands sent, the codes found and the module's extras after.
TEST_F(ModuleClassesTest, ReadsAndClearsPerClass) {
    struct Case {
        const char* name;
        std::function<std::unique_ptr<QZEBaseDiagnosticModule>()> make;
        QZEModuleData module;
        std::map<std::string, std::string> replies;
        Texts events;
        std::vector<Code> codes;
        bool ok = true;
        bool clear = false;
        std::function<void(QZEBaseDiagnosticModule&)> before = {};
        std::function<void(const QZEModuleData&)> after = {};
    };
    auto hyundai = [] { return std::make_unique<QZEHyundaiKlineModule>(); };
    // A MUT erase: any byte answers it; the sensor's own words do not.
    auto mutErase = [](const char* name, const char* reply, bool ok) {
        return Case{name,
                    [] { return std::make_unique<QZEMitsubishiKlineDiagnosticModule>(); },
                    moduleAt("00", "00", {{"Clear_ID", "FC"}}),
                    {{"FC", reply}},
                    {"setup:KQSH8100F1", "send:FC"},
                    {},
                    ok,
                    true};
    };
    const std::vector<Case> cases = {
        mutErase("Mitsubishi MUT erase answered", "00 \r\r>", true),
        mutErase("Mitsubishi MUT erase: a failed line init is no clear", "BUS INIT: ...ERROR\r\r>",
                 false),
        mutErase("Mitsubishi MUT erase: a refusal is no clear", "7F FC 22 \r\r>", false),
        mutErase("Mitsubishi MUT erase: a refusal cut short is no clear", "7F FC \r\r>", false),
        mutErase("Mitsubishi MUT erase: a bare negative byte is no clear", "7F \r\r>", false),
        mutErase("Mitsubishi MUT erase: response pending, then the answer in one reply",
                 "7F FC 78 \r00 \r\r>", true),
        {"Mitsubishi braking in the older fold: a bare table per line speed, at the fold's address",
         [] { return std::make_unique<QZEMitsubishiKlineDiagnosticModule>(); },
         moduleAt(
             "04", "04",
             {{"first", "1"}, {"baud_rates", QZEDictionary{{"3D09", QZEValue(hondaTable())}}}}),
         {{"21 20", kline(0x04, "61 20 01")}, {"21 21", kline(0x04, "61 21 00")}},
         {"setup:KQIF3D09", "setup:KQSH8104F1", "send:21 20", "send:21 21"},
         {{"11", "", "Right front wheel speed sensor"}}},
        {"Mitsubishi bit table: a table flagged damaged is read again and gives no code",
         [] { return std::make_unique<QZEMitsubishiKlineDiagnosticModule>(); },
         moduleAt(
             "04", "04",
             {{"first", "1"}, {"baud_rates", QZEDictionary{{"3D09", QZEValue(hondaTable())}}}}),
         {{"21 20", "61 20 0D <RX ERROR\r\r>"}, {"21 21", kline(0x04, "61 21 02")}},
         {"setup:KQIF3D09", "setup:KQSH8104F1", "send:21 20", "send:21 20", "send:21 20",
          "send:21 21"},
         {{"31", "ACTIVE", "Inlet valve"}}},
        {"GM CAN: header only (answers come on other identifiers), GMLAN frames",
         [] { return std::make_unique<QZEGmCANDiagnosticModule>(); },
         moduleAt("7E0", "7E8"),
         {{"A9 81 12", "7E8 81 01 71 00 0A 00 00 00 \r81 00 00 00 FF 00 00 00 \r\r>"}},
         {"setup:KQSH7E0", "send:A9 81 12"},
         {{"P0171", "CURRENT", ""}}},
        {"Ford CAN: header and filter; a UDS unit by its type",
         [] { return std::make_unique<QZEFordCANDiagnosticModule>(); },
         moduleAt("7E1", "7E9", {{"type", "UDS"}, {"dtcsDict", QZEDictionary{{"P1744", "TCC"}}}}),
         {{"19 02 FF", can("59 02 FF 17 44 00 2F")}},
         {"setup:KQSH7E1", "setup:KQCF7E9", "send:19 02 FF"},
         {{"P1744-00", "CONFIRMED/PENDING", ""}}},
        // Whole as far as it came, an answer that stopped before its prompt is cut short.
        {"Ford CAN: an answer that stopped before its prompt is read again, its codes kept",
         [] { return std::make_unique<QZEFordCANDiagnosticModule>(); },
         moduleAt("7E1", "7E9", {{"type", "UDS"}}),
         {{"19 02 FF", ScriptedVehicle::stalled("59 02 FF 17 44 00 2F \r")}},
         {"setup:KQSH7E1", "setup:KQCF7E9", "send:19 02 FF", "send:19 02 FF", "send:19 02 FF"},
         {{"P1744-00", "CONFIRMED/PENDING", ""}}},
        {"Ford CAN: the module's own texts for its codes",
         [] { return std::make_unique<QZEFordCANDiagnosticModule>(); },
         moduleAt("7E0", "7E8", {{"dtcsDict", QZEDictionary{{"P1000", "Readiness"}}}}),
         {{"18 00 FF 00", can("58 02 10 00 E0 04 20 20")}},
         {"setup:KQSH7E0", "setup:KQCF7E8", "send:18 00 FF 00"},
         {{"P1000", "ACTIVE/MIL", "Readiness"}, {"P0420", "STORED", ""}}},
        {"Ford CAN clear: UDS unit",
         [] { return std::make_unique<QZEFordCANDiagnosticModule>(); },
         moduleAt("7E1", "7E9", {{"type", "UDS"}}),
         {{"14 FF FF FF", "7F 14 22\r\r>"}},
         {"setup:KQSH7E1", "setup:KQCF7E9", "send:14 FF FF FF"},
         {},
         false,
         true},
        {"Hyundai K-line: the unit's address 58 in the header is not the answer's 58; the pins "
         "it answered on are noted; the first exchange waits when asked",
         hyundai,
         moduleAt("58", "58"),
         {{"18 00 FF 00", kline(0x58, "58 01 01 23 60")}},
         {"sleep:1", "setup:KQSH8158F1", "send:18 00 FF 00"},
         {{"P0123", "PRESENT", ""}},
         true,
         false,
         [](QZEBaseDiagnosticModule& m) {
             auto& k = dynamic_cast<QZEHyundaiKlineModule&>(m);
             k.setDelayTransmission(true);
         },
         [](const QZEModuleData& m) { EXPECT_EQ(m.extra("RESPONSE_PIN_COMMAND").text(), "70"); }},
        {"Hyundai K-line: its own pins are noted, not the ones put back after",
         hyundai,
         moduleAt("58", "58", {{"pins", "D0"}}),
         {{"18 00 FF 00", kline(0x58, "58 01 01 23 60")}},
         {"setup:KQSMD0", "setup:KQSH8158F1", "send:18 00 FF 00", "setup:KQSM70"},
         {{"P0123", "PRESENT", ""}},
         true,
         false,
         {},
         [](const QZEModuleData& m) { EXPECT_EQ(m.extra("RESPONSE_PIN_COMMAND").text(), "D0"); }},
        {"Hyundai K-line: a refused read notes no pins",
         hyundai,
         moduleAt("10", "10"),
         {{"18 00 FF 00", kline(0x10, "7F 18 12")}},
         {"setup:KQSH8110F1", "send:18 00 FF 00"},
         {},
         false,
         false,
         {},
         [](const QZEModuleData& m) { EXPECT_TRUE(m.extra("RESPONSE_PIN_COMMAND").isNull()); }},
        {"Hyundai MUT: length byte in request and answer, the line's header put back",
         [] { return std::make_unique<QZEHyundaiMutModule>(); },
         moduleAt("28", "28"),
         {{"04 18 00 FF 00", kline(0x28, "58 01 40 50 60", false)}},
         {"setup:KQSH8028F1", "send:04 18 00 FF 00", "setup:KQSH8040F1"},
         {{"C0050", "PRESENT", ""}}},
        {"Toyota K-line: protocol and pins of the module, put back after; two-digit codes",
         [] { return std::make_unique<QZEToyotaKlineDiagnosticModule>(); },
         moduleAt("10", "10",
                  {{"protocol", "3"},
                   {"pins", "D0"},
                   {"dtcJ2012EncodedDict", QZEDictionary{{"12", "P0335"}}},
                   {"dtcsDict", QZEDictionary{{"12", "Crank signal"}, {"P1135", "Heater"}}}}),
         {{"13", kline(0x10, "53 00 12 11 35")}},
         {"setup:KQSP3", "setup:KQSMD0", "setup:KQSH8110F1", "send:13", "setup:KQSP5"},
         {{"P0335", "STORED", "Crank signal"}, {"P1135", "STORED", "Heater"}}},
        {"Toyota K-line on an automatic protocol: the module's protocol is put back to it",
         [] { return std::make_unique<QZEToyotaKlineDiagnosticModule>(); },
         moduleAt("10", "10", {{"protocol", "3"}}),
         {{"13", kline(0x10, "53 00 00")}},
         {"setup:KQSP3", "setup:KQSH8110F1", "send:13", "setup:KQSP0"},
         {},
         true,
         false,
         [this](QZEBaseDiagnosticModule&) { vehicle->protocol = "0"; }},
        {"Toyota CAN behind the gateway: the scanner's header, the unit's address first",
         [] { return std::make_unique<QZEToyotaCanDiagnosticModule>(); },
         moduleAt("40", "40", {{"isExtCAN", "1"}}),
         {{"40 13", can("53 02 96 50 00 00", 0x40)}},
         {"send:40 13"},
         {{"B1650", "STORED", ""}}},
        {"Honda K-line bit table: J2012 codes where mapped, one code for two bits, byte status",
         [] { return std::make_unique<QZEHondaKlineDiagnosticModule>(); },
         moduleAt("28", "28",
                  {{"dtcBitEncodedDitct", QZEValue(hondaTable())},
                   {"dtcJ2012EncodedDict",
                    QZEDictionary{{"11", "C0040"}, {"1-1", "B0001"}, {"1-2", "B0001"}}}}),
         {{"21 20", kline(0x28, "61 20 0D")}, {"21 21", kline(0x28, "61 21 02")}},
         {"setup:KQSH8128F1", "send:21 20", "send:21 21"},
         {{"C0040", "STORED", "Right front wheel speed sensor"},
          {"B0001", "STORED", "Inflator circuit open; Inflator circuit short"},
          {"31", "ACTIVE", "Inlet valve"}}},
        {"Honda K-line on DIAG-H: the module's own protocol is left alone",
         [] { return std::make_unique<QZEHondaKlineDiagnosticModule>(); },
         moduleAt("11", "11", {{"protocol", "5"}}),
         {{"18 00 FF 00", kline(0x11, "58 01 12 59 20")}},
         {"setup:KQSH8111F1", "send:18 00 FF 00"},
         {{"P1259", "STORED", ""}},
         true,
         false,
         [](QZEBaseDiagnosticModule&) { QZEHondaKlineDiagnosticModule::setDIAGH(true); }},
        {"Honda K-line clear: the module's Clear_ID",
         [] { return std::make_unique<QZEHondaKlineDiagnosticModule>(); },
         moduleAt("12", "12", {{"Clear_ID", "A1 00"}}),
         {{"A1 00", kline(0x12, "E1 00")}},
         {"setup:KQSH8112F1", "send:A1 00"},
         {},
         true,
         true},
        {"Chrysler J2190, first layout: every set bit, request type 2",
         [] { return std::make_unique<QZEChryslerVPWDiagnosticModule>(); },
         moduleAt("58", "58", {{"type", "J2190"}, {"readoutCmd", "22 00 01"}}),
         {{"22 00 01", "62 00 01 80 40 00 \r\r>"}},
         {"setup:KQSH6C58F1", "send:22 00 01"},
         {{"", "STORED", "RR WHEEL SENSOR SIGNAL FAILURE"},
          {"", "STORED", "BUS SYSTEM COMMUNICATION"}},
         true,
         false,
         {},
         [](const QZEModuleData&) {}},
        {"Chrysler J2190 with headers shown: another module's read-out beside its own is not its",
         [] { return std::make_unique<QZEChryslerVPWDiagnosticModule>(); },
         moduleAt("58", "58", {{"type", "J2190"}, {"readoutCmd", "22 00 01"}}),
         {{"22 00 01", "6C F1 40 62 00 01 FF FF FF 00 \r6C F1 58 62 00 01 80 40 00 00 \r\r>"}},
         {"setup:KQSH6C58F1", "send:22 00 01"},
         {{"", "STORED", "RR WHEEL SENSOR SIGNAL FAILURE"},
          {"", "STORED", "BUS SYSTEM COMMUNICATION"}}},
        {"Chrysler J2190, second layout, block 2",
         [] { return std::make_unique<QZEChryslerVPWDiagnosticModule>(); },
         moduleAt("60", "60", {{"type", "J2190_2"}, {"readoutCmd", "22 20 01"}}),
         {{"22 20 01", "62 20 01 00 40 00 \r\r>"}},
         {"setup:KQSH6C60F1", "send:22 20 01"},
         {{"54", "STORED", "Shorted Dump Coil REAR"}}},
        {"Chrysler J2190, second layout: one read-out per fault block, from block 1 on",
         [] { return std::make_unique<QZEChryslerVPWDiagnosticModule>(); },
         moduleAt("28", "28", {{"type", "J2190_1"}, {"readoutCmd", "22 20 00, 22 20 01,22 20 02"}}),
         {{"22 20 00", "62 20 00 80 00 00 \r\r>"},
          {"22 20 01", "62 20 01 08 00 00 \r\r>"},
          {"22 20 02", "62 20 02 40 00 00 \r\r>"}},
         {"setup:KQSH6C28F1", "send:22 20 00", "send:22 20 01", "send:22 20 02"},
         {{"36", "STORED", "Missing Sensor REAR"},
          {"", "STORED", "UNKNOWN 5"},
          {"63", "STORED", "Shuttled Reset Switch"}}},
        {"Chrysler J2190: a refused read-out is no bitmap (never 24 faults)",
         [] { return std::make_unique<QZEChryslerVPWDiagnosticModule>(); },
         moduleAt("60", "60", {{"type", "J2190_1"}, {"readoutCmd", "22 20 01"}}),
         {{"22 20 01", "7F 22 12 \r\r>"}},
         {"setup:KQSH6C60F1", "send:22 20 01"},
         {},
         false},
        {"Chrysler J2190: a read-out the adapter flags as damaged is read again, then no bitmap",
         [] { return std::make_unique<QZEChryslerVPWDiagnosticModule>(); },
         moduleAt("60", "60", {{"type", "J2190_1"}, {"readoutCmd", "22 20 01"}}),
         {{"22 20 01", "62 20 01 FF FF FF <DATA ERROR\r\r>"}},
         {"setup:KQSH6C60F1", "send:22 20 01", "send:22 20 01", "send:22 20 01"},
         {},
         false},
        {"Chrysler J2190: an unknown fault block reads nothing",
         [] { return std::make_unique<QZEChryslerVPWDiagnosticModule>(); },
         moduleAt("60", "60", {{"type", "J2190_7"}, {"readoutCmd", "22 20 01"}}),
         {},
         {},
         {},
         false},
        // Read in the form the engine tells (29-bit identifiers, headers shown, no blanks): the
        // codes of a multi-frame answer cut inside its last byte, read again.
        {"Honda CAN on 29-bit CAN, headers shown, lines without blanks",
         [] { return std::make_unique<QZEHondaCanDiagnosticModule>(); },
         moduleAt("18DA28F1", "18DAF128"),
         {{"19 02 FF", "18DAF128100B5902FF521000\r18DAF12821885227000\r\r>"}},
         {"setup:KQSH18DA28F1", "setup:KQCF18DAF128", "send:19 02 FF", "send:19 02 FF",
          "send:19 02 FF"},
         {{"C1210-00", "MIL/CONFIRMED", ""}},
         true,
         false,
         [this](QZEBaseDiagnosticModule&) {
             vehicle->protocol = "7";
             vehicle->headers = true;
         }},
        {"Honda CAN on 29-bit CAN under the automatic protocol, the same",
         [] { return std::make_unique<QZEHondaCanDiagnosticModule>(); },
         moduleAt("18DA28F1", "18DAF128"),
         {{"19 02 FF", "18DAF128100B5902FF521000\r18DAF12821885227000\r\r>"}},
         {"setup:KQSH18DA28F1", "setup:KQCF18DAF128", "send:19 02 FF", "send:19 02 FF",
          "send:19 02 FF"},
         {{"C1210-00", "MIL/CONFIRMED", ""}},
         true,
         false,
         [this](QZEBaseDiagnosticModule&) {
             vehicle->protocol = "0";
             vehicle->bus = "CAN29_500";
             vehicle->headers = true;
         }},
        {"Chrysler CAN B: a module of bus key 10 is read on protocol \"<\", then put back",
         [] { return std::make_unique<QZEChryslerCANDiagnosticModule>(); },
         [] {
             auto m = moduleAt("18DA2BF1", "18DAF12B");
             m.setBusType("10");
             return m;
         }(),
         {{"18 00 FF 00", can("58 01 50 15 20")}},
         {"setup:KQSP<", "setup:KQSH18DA2BF1", "setup:KQCF18DAF12B", "send:18 00 FF 00",
          "setup:KQSP5"},
         {{"C1015", "STORED", ""}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fakes.events->clear();
        vehicle->protocol = "5";
        vehicle->headers.reset();
        vehicle->bus.reset();
        vehicle->highPin = 7;
        vehicle->lowPin = 0;
        QZEHondaKlineDiagnosticModule::setDIAGH(false);
        for (const auto& [cmd, reply] : c.replies) vehicle->script(cmd, {reply});
        auto module = c.make();
        if (c.before) c.before(*module);
        QZEModuleData record = c.module;
        const bool ok = c.clear ? module->clearCodes(record) : module->scanCodes(record);
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(fakes.events->events(), c.events);
        EXPECT_EQ(codesOf(*module), c.codes);
        if (c.after) c.after(record);
        for (const auto& [cmd, reply] : c.replies) vehicle->script(cmd, {});
    }
}

// The Toyota K-line key-cycle prompt: a pending answer on a vehicle that needs it asks the user
// once and resends after the answer; other vehicles resend at once; a lost link ends the read.
TEST_F(ModuleClassesTest, ToyotaKLineAsksForAKeyCycleOnAPendingAnswer) {
    const std::string pending = kline(0x10, "7F 13 78");
    const std::string data = kline(0x10, "53 01 33");
    auto& center = NotificationCenter::defaultCenter();
    struct Case {
        const char* name;
        std::string vin;
        Texts replies;
        const char* link;  // posted instead of the user's answer, when set
        Texts sends;
        int prompts;
        bool ok;
    };
    const std::vector<Case> cases = {
        {"Japan-built: asked once, resent after the answer",
         "JT2BG22K1Y0123456",
         {pending, pending, data},
         nullptr,
         {"13", "13", "13"},
         1,
         true},
        {"not Japan-built: resent at once",
         "4T1BG22K0YU123456",
         {pending, data},
         nullptr,
         {"13", "13"},
         0,
         true},
        {"the link drops during the wait",
         "JT2BG22K1Y0123456",
         {pending, data},
         QZEModuleNotifications::kDeviceDisconnected,
         {"13"},
         1,
         false},
    };
    EXPECT_FALSE(QZEToyotaKlineDiagnosticModule::needsKeyCycle("JT2BG22K1Y012345"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fakes.events->clear();
        session->vin = c.vin;
        vehicle->script("13", c.replies);
        std::atomic<int> prompts{0};
        std::string message;
        auto token = center.addObserver(QZEModuleNotifications::kInteractionRequired,
                                        [&](const Notification& n) {
                                            ++prompts;
                                            if (auto m = n.value<std::string>("msg")) message = *m;
                                        });
        QZEToyotaKlineDiagnosticModule module;
        QZEModuleData record = moduleAt("10", "10");
        bool ok = false;
        std::atomic<bool> done{false};
        std::thread read([&] {
            ok = module.scanCodes(record);
            done = true;
        });
        if (c.prompts) {
            EXPECT_TRUE(simtest::eventually([&] {
                return module.awaitingInteraction() || prompts > 0 || done;
            })) << "no key-cycle prompt";
            center.post(c.link ? c.link : QZEModuleNotifications::kInteractionComplete);
        }
        if (!simtest::eventually([&] { return done.load(); })) {
            ADD_FAILURE() << "the read still waits for the user";
            center.post(QZEModuleNotifications::kDeviceDisconnected);  // ends the wait
        }
        read.join();
        center.removeObserver(token);
        EXPECT_EQ(prompts, c.prompts);
        if (c.prompts) {
            EXPECT_EQ(message, QZEToyotaKlineDiagnosticModule::kKeyCycleMessage);
        }
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(fakes.eventsOf("send:").size(), c.sends.size());
        EXPECT_EQ(codesOf(module).size(), c.ok ? 1u : 0u);
    }
}

// A Chrysler read-out's bitmap follows the echo of its parameter bytes.
TEST(ModuleProtocolTest, J2190BitmapsFollowTheReadoutsEcho) {
    EXPECT_EQ(QZEChryslerVPWDiagnosticModule::j2190Bitmap("62 20 00 C0 00 01 \r\r>", "22 20 00"),
              "C0 00 01");
    EXPECT_EQ(QZEChryslerVPWDiagnosticModule::j2190Bitmap("62 20 05 C0 00 01 \r>", "22 20 00"),
              std::nullopt);
    EXPECT_EQ(QZEChryslerVPWDiagnosticModule::j2190Bitmap("62 20 00 C0 \r>", "22 20 00"),
              std::nullopt);
}
