// J1850 replies with headers off: one line per response, "<response byte> <data...>"; and the
// Chrysler J2190 fault bitmaps.

#include <array>

#include "lib/Decoders/QZEModuleReply.hpp"
#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Facades/QZEVehicle.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"
#include "lib/Utils/QZEnhancedUtils.hpp"

namespace qz {

namespace {

// The module's positive messages of a line-per-response reply: negative responses, the sensor's
// words and flagged frames are none; header bytes and CRC are taken off lines that show them.
std::vector<QZEMessageBytes> j1850Answers(std::string_view text, int positive) {
    QZEAsked asked;
    asked.framing = QZEFraming::j1850;
    asked.positive = positive;
    asked.display = QZEBaseDiagnosticModule::displayed();
    return QZEBaseDiagnosticModule::readableMessages(QZEModuleReply::classify(text, asked));
}

// A message as its line shows it: the bytes with a blank between them.
std::string shown(const QZEMessageBytes& message) {
    std::string out;
    for (const auto& byte : message) out += (out.empty() ? "" : " ") + byte;
    return out;
}

}  // namespace

int64_t QZEBaseDiagnosticModule::decodeCodesPWMFordJ2012(std::string_view text, int positive) {
    QZELogging::shared().logVerbose("decodeEnhancedCodesPWMFordJ2012 %@", text);
    for (const auto& message : j1850Answers(text, positive < 0 ? kPwmPositive : positive))
        decodePwmMessage(message);
    return static_cast<int64_t>(m_codeArray.size());
}

void QZEBaseDiagnosticModule::decodePwmMessage(const QZEMessageBytes& t) {
    QZELogging::shared().logVerbose("item: %@", shown(t));
    // Two codes per line; a pair the line does not hold wholly is no code.
    for (size_t first : {1, 3}) {
        if (first + 1 >= t.size()) break;
        std::string code =
            reply::j2012Code(reply::byteValue(t[first]), reply::byteValue(t[first + 1]));
        QZELogging::shared().logVerbose("CODE %@", code);
        addCodeUnlessFiller(code, "");
    }
}

int64_t QZEBaseDiagnosticModule::decodeEnhancedCodesVPWGMJ2012(std::string_view text,
                                                               int positive) {
    auto& log = QZELogging::shared();
    log.logVerbose("decodeEnhancedCodesVPWGMJ2012 %@", text);
    log.logVerbose("In this STRING: %@ there are %d codes", text,
                   static_cast<int>(reply::lines(text).size()));
    for (const auto& message : j1850Answers(text, positive < 0 ? kVpwGmPositive : positive))
        decodeVpwGmMessage(message);
    return static_cast<int64_t>(m_codeArray.size());
}

void QZEBaseDiagnosticModule::decodeVpwGmMessage(const QZEMessageBytes& t) {
    QZELogging::shared().logVerbose("item: %@", shown(t));
    // A record is A, B and the status byte: a line without its status byte was cut inside it
    // and holds no code.
    if (t.size() < 4) return;
    int s = reply::byteValue(t[3]);
    std::string status = (s & 0x80) ? "MIL" : "";
    if (s & 0x40) status = "SINCE POWER/" + status;
    if (s & 0x10) status = "HISTORY/" + status;
    if (s & 0x08) status = "SINCE CLEAR/" + status;
    if (s & 0x02) status = "CURRENT/" + status;
    if (status.ends_with('/')) status.pop_back();
    std::string code = reply::j2012Code(reply::byteValue(t[1]), reply::byteValue(t[2]));
    QZELogging::shared().logVerbose("CODE %@", code);
    addCodeUnlessFiller(code, status);
}

namespace {

// Bits from 0x80 down to 0x01.
using BitTexts = std::array<const char*, 8>;

const std::array<BitTexts, 3> kJ2190OldTexts = {{
    {"RR WHEEL SENSOR SIGNAL FAILURE", "RR SENSOR CONTINUITY FAILURE",
     "LR WHEEL SENSOR SIGNAL FAILURE", "LR SENSOR CONTINUITY FAILURE",
     "RF WHEEL SENSOR SIGNAL FAILURE", "RF SENSOR CONTINUITY FAILURE",
     "LF WHEEL SENSOR SIGNAL FAILURE", "LF SENSOR CONTINUITY FAILURE"},
    {"OVER VOLTAGE", "BUS SYSTEM COMMUNICATION", "CLUSTER FAULT", "UNDER VOLTAGE",
     "ABS WARNING LAMP OR G-SWITCH FAILURE", "ECU INTERNAL FAILURE", "VALVE POWER FEED FAILURE",
     "HYDRAULIC PUMP CIRCUIT FAILURE"},
    {"MODULE MISMATCH", "INCORRECT TONE WHEEL", "UNKNOWN 1", "UNKNOWN 2", "UNKNOWN 3", "UNKNOWN 4",
     "BRAKE PRESSURE SWITCH", "BRAKE FLUID LEVEL SWITCH"},
}};

struct Fault {
    const char* code;  // empty where the fault has no number
    const char* text;
};
using BitFaults = std::array<Fault, 8>;
// Per fault-code id, per byte b0-b2.
using FaultTable = std::array<BitFaults, 3>;

const FaultTable kJ2190Id1 = {{
    {{{"36", "Missing Sensor REAR"},
      {"32", "Missing Sensor RR"},
      {"22", "Missing Sensor RF"},
      {"26", "Missing Sensor LF"},
      {"35", "Open Sensor REAR"},
      {"31", "Open Sensor RR"},
      {"21", "Open Sensor RF"},
      {"25", "Open Sensor LF"}}},
    {{{"96", "Over / Under Voltage"},
      {"", "UNKNOWN 1"},
      {"", "UNKNOWN 2"},
      {"", "UNKNOWN 3"},
      {"37", "Erratic Sensor REAR"},
      {"33", "Erratic Sensor RR"},
      {"23", "Erratic Sensor RF"},
      {"27", "Erratic Sensor LF"}}},
    {{{"78", "Foundation Brake Incident"},
      {"", "UNKNOWN 4"},
      {"", "Internal Failure"},
      {"66", "Shorted Relay Circuit"},
      {"38", "Wheel Speed Error"},
      {"73", "Inoperative Watchdog Inhibit"},
      {"72", "ROM Incident"},
      {"71", "RAM Incident"}}},
}};

// Id 2 for model years before 2002.
const FaultTable kJ2190Id2Before2002 = {{
    {{{"84", "Mismatched VIN"},
      {"83", "Tire Size Error"},
      {"82", "Teeth Count Error"},
      {"69", "Excessive Dump"},
      {"", "UNKNOWN 5"},
      {"", "UNKNOWN 6"},
      {"", "UNKNOWN 7"},
      {"", "UNKNOWN 8"}}},
    {{{"", "UNKNOWN 9"},
      {"54", "Shorted Dump Coil REAR"},
      {"53", "Shorted ISO Coil REAR"},
      {"44", "Shorted Dump Coil RF"},
      {"", "UNKNOWN 10"},
      {"43", "Shorted ISO Coil RF"},
      {"48", "Shorted Dump Coil  LF"},
      {"47", "Shorted ISO Coil LF"}}},
    {{{"02", "Shorted LF Diode"},
      {"52", "Open Dump Coil REAR"},
      {"51", "Open ISO Coil REAR"},
      {"42", "Open Dump Coil RF"},
      {"03", "Shorted RF Diode"},
      {"41", "Open ISO Coil RF"},
      {"46", "Open Dump Coil LF"},
      {"45", "Open Dump Coil LF"}}},
}};

// Id 2 from model year 2002 on.
const FaultTable kJ2190Id2From2002 = {{
    kJ2190Id2Before2002[0],
    {{{"43", "Shorted ISO Coil RF"},
      {"54", "Shorted Dump Coil REAR"},
      {"53", "Shorted ISO Coil REAR"},
      {"44", "Shorted Dump Coil RF"},
      {"", "UNKNOWN 10"},
      {"47", "Shorted ISO Coil LF"},
      {"48", "Shorted Dump Coil  LF"},
      {"", "UNKNOWN 25"}}},
    {{{"41", "Open ISO Coil RF"},
      {"52", "Open Dump Coil REAR"},
      {"51", "Open ISO Coil REAR"},
      {"42", "Open Dump Coil RF"},
      {"", "UNKNOWN 26"},
      {"45", "Open Dump Coil LF"},
      {"46", "Open Dump Coil LF"},
      {"", "UNKNOWN 27"}}},
}};

const FaultTable kJ2190Id3 = {{
    {{{"", "UNKNOWN 11"},
      {"63", "Shuttled Reset Switch"},
      {"81", "Stuck Brake Switch"},
      {"74", "Sys Ctrl Mode Timeout"},
      {"", "UNKNOWN 12"},
      {"68", "Stalled Motor"},
      {"67", "Open Motor"},
      {"65", "Open Relay"}}},
    {{{"", "UNKNOWN 13"},
      {"", "UNKNOWN 14"},
      {"", "UNKNOWN 15"},
      {"", "UNKNOWN 16"},
      {"93", "Shorted Sensor REAR"},
      {"", "UNKNOWN 17"},
      {"91", "Shorted Sensor RF"},
      {"90", "Shorted Sensor L"}}},
    {{{"", "UNKNOWN 18"},
      {"", "UNKNOWN 19"},
      {"", "UNKNOWN 20"},
      {"", "UNKNOWN 21"},
      {"", "UNKNOWN 22"},
      {"", "UNKNOWN 23"},
      {"", "UNKNOWN 24"},
      {"", "UNKNOWN 25"}}},
}};

// The three bitmap bytes, or none when the reply holds fewer than three tokens.
std::optional<std::array<int, 3>> bitmapBytes(std::string_view text) {
    auto t = reply::tokens(text);
    if (t.size() < 3) return std::nullopt;
    return std::array<int, 3>{reply::byteValue(t[0]), reply::byteValue(t[1]),
                              reply::byteValue(t[2])};
}

void logBitmap(const std::array<int, 3>& b) {
    QZELogging::shared().logVerbose("b0:0x%02X, b1:0x%02X, b2:0x%02X", b[0], b[1], b[2]);
}

// Calls each(byte, bit index) for every set bit, byte 0 first, each byte from 0x80 to 0x01.
template <class Each>
void eachSetBit(const std::array<int, 3>& bytes, Each each) {
    for (size_t byte = 0; byte < 3; ++byte)
        for (size_t bit = 0; bit < 8; ++bit)
            if (bytes[byte] & (0x80 >> bit)) each(byte, bit);
}

}  // namespace

int32_t QZEBaseDiagnosticModule::countDTCsJ2190(std::string_view text) {
    auto& log = QZELogging::shared();
    log.logVerbose("countDTCsJ2190: %@", text);
    auto bytes = bitmapBytes(text);
    if (!bytes) return 0;
    int32_t n = 0;
    for (int b : *bytes) n += QZEnhancedUtils::bitcount(static_cast<uint8_t>(b));
    log.logVerbose("Counted %d bits on", n);
    return n;
}

// The bitmap is read byte-major (byte 0 from 0x80 to 0x01, then byte 1, then byte 2), the
// order of the newer decoder. A reply of fewer than three bytes reports no fault.
int64_t QZEBaseDiagnosticModule::decodeEnhancedCodesVPWChryslerJ2190Old(std::string_view text) {
    QZELogging::shared().logVerbose("decodeEnhancedCodesVPWChryslerJ2190Old %@", text);
    auto bytes = bitmapBytes(text);
    if (!bytes) return static_cast<int64_t>(m_codeArray.size());
    eachSetBit(*bytes, [&](size_t byte, size_t bit) {
        m_definitionArray.emplace_back(kJ2190OldTexts[byte][bit]);
    });
    logBitmap(*bytes);
    if (m_codeArray.size() < m_definitionArray.size()) m_codeArray.resize(m_definitionArray.size());
    if (m_statusArray.size() < m_definitionArray.size())
        m_statusArray.resize(m_definitionArray.size());
    return static_cast<int64_t>(m_codeArray.size());
}

int64_t QZEBaseDiagnosticModule::decodeEnhancedCodesVPWChryslerJ2190New(std::string_view text,
                                                                        int64_t faultCodeID) {
    auto bytes = bitmapBytes(text);
    if (!bytes) return 0;
    QZELogging::shared().logVerbose("decodeEnhancedCodesVPWChryslerJ2190New %@", text);
    int64_t modelYear = QZEVehicle::TheVehicle().modelYear();
    const FaultTable* table = nullptr;
    switch (faultCodeID) {
        case 1:
            table = &kJ2190Id1;
            break;
        case 2:
            table = modelYear < 2002 ? &kJ2190Id2Before2002 : &kJ2190Id2From2002;
            break;
        case 3:
            table = &kJ2190Id3;
            break;
        default:
            return 0;
    }
    eachSetBit(*bytes, [&](size_t byte, size_t bit) {
        const Fault& fault = (*table)[byte][bit];
        m_codeArray.emplace_back(fault.code);
        m_definitionArray.emplace_back(fault.text);
    });
    if (m_statusArray.size() < m_codeArray.size()) m_statusArray.resize(m_codeArray.size());
    logBitmap(*bytes);
    return static_cast<int64_t>(m_codeArray.size());
}

}  // namespace qz
