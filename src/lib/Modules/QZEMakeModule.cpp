#include "lib/Modules/QZEMakeModule.hpp"

#include <algorithm>
#include <cctype>

#include "lib/Decoders/QZEBitEncodedAddress.hpp"
#include "lib/Descriptions/QZETroubleCodes.hpp"
#include "lib/Facades/QZEVehicle.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Modules/QZEMultiFrameReplies.hpp"
#include "lib/Modules/QZENaks.hpp"
#include "lib/Utils/QZEnhancedUtils.hpp"

namespace qz {

// --- The tables ---

namespace {
using A = QZEAddressing;
using L = QZEReplyLayout;
using R = QZEBaseDiagnosticModule::Retry;
using H = QZEKLineHeaders;
using B = QZEBusChoice;
}  // namespace

// clang-format off
// Addressing, read request, reply layout, clear request, retries; the status of codes whose reply gives none, the
// request id in front of each request, the positive answers to the read and the clear, headers shown, the protocol.
const QZEModuleProtocol QZEModuleProtocols::kwpKLine           {A::kLine,       "18 00 FF 00",    L::kwp2000KLine,      "14 FF 00",    R::nrcKline};
const QZEModuleProtocol QZEModuleProtocols::kwpCan             {A::can,         "18 00 FF 00",    L::kwp2000Can,        "14 FF 00",    R::nrcCan};
const QZEModuleProtocol QZEModuleProtocols::udsCan             {A::can,         "19 02 FF",       L::uds,               "14 FF FF FF", R::nrcCan};
const QZEModuleProtocol QZEModuleProtocols::udsCanHeaders      {A::can,         "19 02 FF",       L::uds,               "14 FF FF FF", R::nrcCan,   "",       false, -1,   -1,   true};
const QZEModuleProtocol QZEModuleProtocols::fordPwm            {A::j1850Pwm,    "13",             L::j1850Pwm,          "14",          R::nrcJ1850, "STORED"};
const QZEModuleProtocol QZEModuleProtocols::gmVpw              {A::j1850Vpw,    "19 D2 FF 00",    L::j1850VpwGm,        "14",          R::nrcJ1850};
const QZEModuleProtocol QZEModuleProtocols::gmCan              {A::canNoFilter, "A9 81 12",       L::gmlan,             "04",          R::nrcCan,   "",       false, 0x81};
const QZEModuleProtocol QZEModuleProtocols::chryslerVpw        {A::j1850Vpw,    "13",             L::j1850Pwm,          "14",          R::nrcJ1850, "STORED"};
const QZEModuleProtocol QZEModuleProtocols::toyotaCan          {A::can,         "13",             L::toyotaCan,         "14",          R::nrcCan,   "STORED"};
const QZEModuleProtocol QZEModuleProtocols::toyotaExtendedCan  {A::preset,      "13",             L::toyotaExtendedCan, "14",          R::nrcCan,   "STORED", true};
const QZEModuleProtocol QZEModuleProtocols::toyotaKLine        {A::kLine,       "13",             L::toyotaKLine,       "14",          R::nrcKline, "STORED"};
const QZEModuleProtocol QZEModuleProtocols::hondaBitTable      {A::kLine,       "21",             L::bitTable,          "14 FF 00",    R::nrcKline, "STORED"};
const QZEModuleProtocol QZEModuleProtocols::hyundaiMut         {A::kLineLength, "04 18 00 FF 00", L::kwp2000KLine,      "03 14 FF 00", R::nrcKline, "",       false, 0x58, 0x54};
const QZEModuleProtocol QZEModuleProtocols::bmwKLine           {A::kLineLength, "18 02 FF FF",    L::kwp2000KLine,      "14 FF FF",    R::nrcKline};
const QZEModuleProtocol QZEModuleProtocols::bmwCan             {A::preset,      "19 02 FF",       L::extendedUds,       "14 FF FF FF", R::nrcCan,   "",       true,  -1,   -1,   true};
const QZEModuleProtocol QZEModuleProtocols::mercedesKwp2000    {A::kLine,       "18 02 FF FF",    L::kwp2000KLine,      "14 FF FF",    R::nrcKline, "",       false, -1,   -1,   false, "5"};
const QZEModuleProtocol QZEModuleProtocols::mercedesKwfb       {A::kLine,       "18 02 FF 00",    L::kwp2000KLine,      "14 FF 00",    R::nrcKline, "",       false, -1,   -1,   false, "4"};
const QZEModuleProtocol QZEModuleProtocols::mercedesMbIso      {A::kLine,       "18 02 FF 00",    L::kwp2000KLine,      "14 FF 00",    R::nrcKline};
const QZEModuleProtocol QZEModuleProtocols::mercedesKwpCan     {A::preset,      "18 02 FF 00",    L::kwp2000Can,        "14 FF 00",    R::nrcCan};
const QZEModuleProtocol QZEModuleProtocols::mitsubishiBitTable {A::kLine,       "21",             L::bitTable,          "14 FF 00",    R::nrcKline};

// K-line headers, the module's bus, the rest before the first exchange, pins noted, failure-type texts.
const QZEModuleTraits QZEModuleTraits::restoring    {H::lenient, B::restore,  0, false, false};
const QZEModuleTraits QZEModuleTraits::hyundaiKLine {H::lenient, B::restore,  1, true,  false};
const QZEModuleTraits QZEModuleTraits::kLine        {H::checked, B::keepPins, 2, true,  true};
const QZEModuleTraits QZEModuleTraits::can          {H::checked, B::keepPins, 0, false, true};
// clang-format on

namespace {

// Further reads of a module whose answer was cut short.
constexpr int kRereads = 2;

QZELogging& log() {
    return QZELogging::shared();
}

bool isHexByte(std::string_view token) {
    return token.size() == 2 && std::isxdigit(static_cast<unsigned char>(token[0])) &&
           std::isxdigit(static_cast<unsigned char>(token[1]));
}

int value(std::string_view token) {
    return reply::byteValue(token);
}

QZEMessageBytes strings(reply::Tokens::const_iterator begin, reply::Tokens::const_iterator end) {
    return QZEMessageBytes(begin, end);
}

// The byte of a positive answer to a request: `positive` when given, else the request's first
// byte + 0x40 ("18 00 FF 00" and "1902FF" alike); -1 when there is no request.
int positiveByte(std::string_view request, int positive) {
    if (positive >= 0) return positive;
    auto t = reply::tokens(request);
    if (t.empty()) return -1;
    return (value(t[0]) + 0x40) & 0xFF;
}

bool startsWith(const QZEMessageBytes& message, int byte) {
    return !message.empty() && isHexByte(message[0]) && value(message[0]) == byte;
}

// The K-line message of one line with headers shown, or none when the line is not one.
std::optional<QZEMessageBytes> headedKLineMessage(const reply::Tokens& t, QZEKLineHeaders mode) {
    if (t.empty() || !std::all_of(t.begin(), t.end(), isHexByte)) return std::nullopt;
    const int format = value(t[0]);
    if ((format & 0x80) == 0) return std::nullopt;
    size_t length = static_cast<size_t>(format & 0x3F);
    size_t head = 3;
    if (length == 0) {
        if (t.size() < 4) return std::nullopt;
        length = static_cast<size_t>(value(t[3]));
        head = 4;
    }
    if (mode == QZEKLineHeaders::checked) {
        if (head + length + 1 != t.size()) return std::nullopt;
        int sum = 0;
        for (size_t i = 0; i + 1 < t.size(); ++i) sum += value(t[i]);
        if ((sum & 0xFF) != value(t.back())) return std::nullopt;
    } else {
        if (t.size() <= head) return std::nullopt;
        length = std::min(length, t.size() - head);
    }
    return strings(t.begin() + static_cast<std::ptrdiff_t>(head),
                   t.begin() + static_cast<std::ptrdiff_t>(head + length));
}

std::string headerFormat(QZEAddressing addressing) {
    switch (addressing) {
        case QZEAddressing::kLine:
            return "81";
        case QZEAddressing::kLineLength:
            return "80";
        case QZEAddressing::j1850Pwm:
            return "C4";
        case QZEAddressing::j1850Vpw:
            return "6C";
        default:
            return "";
    }
}

// The pins in force as "KQSM" takes them ("70", "6E").
std::string activePins() {
    auto& vehicle = QZEVehicle::TheVehicle();
    return objcFormat("%lX%lX", vehicle.activeHighPin(), vehicle.activeLowPin());
}

}  // namespace

// --- Reply layouts ---

std::vector<QZEMessageBytes> QZEMakeModule::kLineMessages(std::string_view text,
                                                          QZEKLineHeaders headers) {
    std::vector<QZEMessageBytes> out;
    for (auto line : reply::lines(text)) {
        auto t = reply::tokens(line);
        // A frame the adapter flags as damaged is no message.
        if (t.empty() || reply::isDamagedLine(t)) continue;
        if (auto message = headedKLineMessage(t, headers)) {
            out.push_back(std::move(*message));
            continue;
        }
        const bool plain = std::all_of(t.begin(), t.end(), isHexByte) && !(value(t[0]) & 0x80);
        if (headers == QZEKLineHeaders::checked || plain)
            out.push_back(strings(t.begin(), t.end()));
    }
    return out;
}

std::vector<QZEMessageBytes> QZEMakeModule::canMessages(std::string_view text) {
    std::vector<QZEMessageBytes> out;
    for (const auto& message : reply::canMessages(text))
        out.push_back(strings(message.begin(), message.end()));
    return out;
}

std::vector<QZEMessageBytes> QZEMakeModule::extendedMessages(std::string_view text) {
    std::vector<QZEMessageBytes> out;
    for (const auto& message : reply::extendedMessages(text))
        out.push_back(strings(message.begin(), message.end()));
    return out;
}

std::vector<QZEMessageBytes> QZEMakeModule::j1850Messages(std::string_view text, int positive) {
    std::vector<QZEMessageBytes> out;
    for (auto line : reply::lines(text))
        if (auto message = reply::j1850Message(reply::tokens(line), positive))
            out.push_back(strings(message->begin(), message->end()));
    return out;
}

std::optional<QZEMessageBytes> QZEMakeModule::positiveMessage(
    const std::vector<QZEMessageBytes>& messages, std::string_view request, int positive) {
    positive = positiveByte(request, positive);
    if (positive < 0) return std::nullopt;
    for (const auto& message : messages)
        if (startsWith(message, positive)) return message;
    return std::nullopt;
}

std::string QZEMakeModule::hexByte(int v) {
    return objcFormat("%02X", v & 0xFF);
}

std::optional<std::string> QZEMakeModule::address(const std::optional<std::string>& id) {
    if (!id) return std::nullopt;
    std::string out;
    for (char c : *id)
        if (c != '$' && c != ' ')
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (out.empty()) return std::nullopt;
    return out;
}

std::vector<QZEMessageBytes> QZEMakeModule::messagesOf(std::string_view reply,
                                                       const QZEModuleProtocol& row,
                                                       int positive) const {
    switch (row.layout) {
        case QZEReplyLayout::kwp2000KLine:
        case QZEReplyLayout::toyotaKLine:
        case QZEReplyLayout::bitTable:
            return kLineMessages(reply, m_traits.kLineHeaders);
        case QZEReplyLayout::toyotaExtendedCan:
        case QZEReplyLayout::extendedUds:
            return extendedMessages(reply);
        case QZEReplyLayout::j1850Pwm:
        case QZEReplyLayout::j1850VpwGm:
            return j1850Messages(reply, positive);
        default:
            return canMessages(reply);
    }
}

// --- Reading and clearing ---

QZEMakeModule::QZEMakeModule(int64_t manufacturer, const QZEModuleTraits& traits)
    : QZEBaseDiagnosticModule(manufacturer), m_traits(traits) {}

bool QZEMakeModule::scanCodes(QZEModuleData& module) {
    return read(module, protocolFor(module));
}

bool QZEMakeModule::clearCodes(QZEModuleData& module) {
    return clear(module, protocolFor(module));
}

std::optional<std::string> QZEMakeModule::protocolOf(const QZEModuleData& module) const {
    return module.extra("protocol").text();
}

bool QZEMakeModule::read(QZEModuleData& module, const QZEModuleProtocol& row,
                         const std::function<bool()>& exchange) {
    m_readingModule = &module;
    m_answeredPins.reset();
    const bool ok = exchange ? exchange()
                             : onModuleBus(module, row, [&] { return readAddressed(module, row); });
    m_readingModule = nullptr;
    finishCodes(module, row.status);
    if (ok && m_traits.notesPins) {
        if (m_answeredPins)
            module.setExtra("RESPONSE_PIN_COMMAND", *m_answeredPins);
        else
            notePins(module);
    }
    return ok;
}

bool QZEMakeModule::clear(QZEModuleData& module, const QZEModuleProtocol& row) {
    return onModuleBus(module, row, [&] { return clearAddressed(module, row); });
}

std::string QZEMakeModule::send(const QZEModuleData& module, const QZEModuleProtocol& row,
                                const std::string& request) {
    if (!row.prefixAddress) return this->request(request, row.retry);
    return this->request(address(module.requestId()).value_or("") + " " + request, row.retry);
}

bool QZEMakeModule::readAddressed(const QZEModuleData& module, const QZEModuleProtocol& row) {
    if (row.layout == QZEReplyLayout::bitTable) {
        auto table = module.extra("dtcBitEncodedDitct").object<QZEBitEncodedAddress>();
        return table && readBitTable(module, *table, row);
    }
    return readWhileCutShort(module, [&] {
        const std::string reply = send(module, row, row.read);
        return Reading{isCutShort(reply, row), answersPositively(reply, row),
                       [this, reply, &row] { decodeRead(reply, row); }};
    });
}

bool QZEMakeModule::readWhileCutShort(const QZEModuleData& module,
                                      const std::function<Reading()>& readOnce) {
    // A whole answer that follows cut-short ones replaces what they gave (a frame that ran short
    // shifts every byte after it); without one, the codes of every read are kept and the read
    // is left incomplete.
    const Results before = results();
    bool answered = false;
    for (int read = 1;; ++read) {
        const Reading reading = readOnce();
        if (!reading.cutShort && read > 1 && reading.positive) restoreResults(before);
        if (reading.positive) {
            reading.decode();
            answered = true;
        }
        // A first answer not cut short ends the read, and so does a whole one read again; a read
        // again that brings none (no answer, a refusal) leaves the cut-short ones' codes.
        if (!reading.cutShort && (read == 1 || reading.positive)) break;
        if (!reading.cutShort || read > kRereads) {
            log().logWarning(
                "Incomplete answer from module: %@ with request_ID: %@ after %@ "
                "reads, keeping its %lu codes",
                module.description(), module.requestId(), std::to_string(read), m_codeArray.size());
            // Frames without their beginning are no answer.
            if (!answered)
                setResponseState(std::min<int64_t>(responseState(), ResponseStateNoData));
            setReadIncomplete(true);
            break;
        }
        log().logInfo("Reading module again: %@ with request_ID: %@, its answer was cut short",
                      module.description(), module.requestId());
    }
    return answered;
}

bool QZEMakeModule::isCutShort(std::string_view reply, const QZEModuleProtocol& row) {
    switch (row.layout) {
        case QZEReplyLayout::kwp2000Can:
        case QZEReplyLayout::toyotaCan:
            return isMultiFrameReplyCutShort(reply, false);
        case QZEReplyLayout::uds:
            return isMultiFrameReplyCutShort(reply, false) || isUdsRecordListCutShort(reply, false);
        case QZEReplyLayout::toyotaExtendedCan:
            return isMultiFrameReplyCutShort(reply, true);
        case QZEReplyLayout::extendedUds:
            return isMultiFrameReplyCutShort(reply, true) || isUdsRecordListCutShort(reply, true);
        default:
            // A line the adapter flags as damaged ("<DATA ERROR") is read again on any bus.
            return reply::holdsDamagedFrame(reply);
    }
}

bool QZEMakeModule::answersPositively(const std::string& reply,
                                      const QZEModuleProtocol& row) const {
    const int positive = positiveByte(row.read, row.readPositive);
    return positiveMessage(messagesOf(reply, row, positive), row.read, positive).has_value();
}

bool QZEMakeModule::decodeRead(const std::string& reply, const QZEModuleProtocol& row) {
    const int positive = positiveByte(row.read, row.readPositive);
    auto messages = messagesOf(reply, row, positive);
    if (!positiveMessage(messages, row.read, positive)) return false;
    switch (row.layout) {
        case QZEReplyLayout::kwp2000Can:
            decodeKWP2000CANResponse(reply);
            break;
        case QZEReplyLayout::kwp2000KLine:
            // The base decoder reads the count after the "58" of ReadDTCByStatus; other read
            // services answer in the same layout under their own response byte.
            for (auto& message : messages) {
                if (!startsWith(message, positive)) continue;
                message[0] = "58";
                decodeKWP2000ResponseBytes(message);
            }
            break;
        case QZEReplyLayout::gmlan:
            decodeEnhancedCodesCANGMJ2012(reply);
            break;
        case QZEReplyLayout::j1850Pwm:
            decodeCodesPWMFordJ2012(reply, positive);
            break;
        case QZEReplyLayout::j1850VpwGm:
            decodeEnhancedCodesVPWGMJ2012(reply, positive);
            break;
        case QZEReplyLayout::toyotaCan:
            decodeToyotaDataCAN(reply, row.status);
            break;
        case QZEReplyLayout::toyotaKLine:
            decodeToyotaDataKLine(reply, row.status);
            break;
        case QZEReplyLayout::toyotaExtendedCan:
            decodeExtendedCANBroadcast(reply, true, row.status);
            break;
        case QZEReplyLayout::uds:
            decodeUds(reply);
            break;
        case QZEReplyLayout::extendedUds:
            decodeExtendedUds(reply);
            break;
        case QZEReplyLayout::bitTable:
            break;
    }
    return true;
}

bool QZEMakeModule::clearAddressed(const QZEModuleData& module, const QZEModuleProtocol& row) {
    const std::string reply = send(module, row, row.clear);
    const int positive = positiveByte(row.clear, row.clearPositive);
    return positiveMessage(messagesOf(reply, row, positive), row.clear, positive).has_value();
}

bool QZEMakeModule::readBitTable(const QZEModuleData& module, const QZEBitEncodedAddress& table,
                                 const QZEModuleProtocol& row) {
    const auto j2012 = module.extra("dtcJ2012EncodedDict").dictionary();
    const int positive = positiveByte(row.read, row.readPositive);
    bool answered = false;
    bool damaged = false;
    std::string unanswered;
    for (uint64_t byte : table.addresses()) {
        const std::string reply =
            requestTable(module, row.read + " " + hexByte(static_cast<int>(byte)), row, damaged);
        // "<read + 40> <byte> <fault bits>"
        const auto messages = messagesOf(reply, row);
        auto message = std::find_if(messages.begin(), messages.end(), [&](const auto& m) {
            return m.size() >= 3 && startsWith(m, positive) &&
                   static_cast<uint64_t>(value(m[1])) == (byte & 0xFF);
        });
        if (message == messages.end()) {
            if (!refusesTable(reply))
                unanswered += (unanswered.empty() ? "" : " ") + hexByte(static_cast<int>(byte));
            continue;
        }
        answered = true;
        const int bits = value((*message)[2]);
        for (uint64_t bit = 0; bit < 8; ++bit) {
            if (!(bits & (1 << bit))) continue;
            auto info = table.infoForBit(bit, byte);
            if (!info || (*info)[0].empty()) {
                log().logVerbose("No fault for bit %@ of byte %@", bit,
                                 hexByte(static_cast<int>(byte)));
                continue;
            }
            std::string code = (*info)[0];
            if (j2012)
                if (auto it = j2012->find(code); it != j2012->end() && it->second.text())
                    code = *it->second.text();
            const std::string status = info->size() > 2 ? (*info)[2] : std::string();
            addDescribedCode(code, status.empty() ? row.status : status, (*info)[1]);
        }
    }
    return endTableRead(module, answered, damaged, unanswered);
}

bool QZEMakeModule::refusesTable(std::string_view reply) {
    return QZENaks::isNAK(reply) &&
           !QZENaks::response(reply, QZENaks::NakBusy | QZENaks::NakResponsePending);
}

std::string QZEMakeModule::requestTable(const QZEModuleData& module, const std::string& cmd,
                                        const QZEModuleProtocol& row, bool& damaged) {
    std::string reply = request(cmd, row.retry);
    // A table the adapter flags as damaged is asked for again, as a cut-short answer is.
    for (int read = 1; read <= kRereads && reply::holdsDamagedFrame(reply); ++read) {
        log().logInfo("Reading module again: %@ with request_ID: %@, its answer was cut short",
                      module.description(), module.requestId());
        reply = request(cmd, row.retry);
    }
    damaged = damaged || reply::holdsDamagedFrame(reply);
    return reply;
}

bool QZEMakeModule::endTableRead(const QZEModuleData& module, bool answered, bool damaged,
                                 const std::string& unanswered) {
    // A table still damaged was answered all the same, by a frame that could not be read.
    if ((answered || damaged) && !unanswered.empty()) {
        log().logWarning(
            "Fault tables not answered by module: %@ with request_ID: %@: %@, keeping its %lu "
            "codes",
            module.description(), module.requestId(), unanswered, m_codeArray.size());
        setReadIncomplete(true);
    }
    // Damaged frames alone are no answer.
    if (!answered && damaged)
        setResponseState(std::min<int64_t>(responseState(), ResponseStateNoData));
    return answered;
}

// --- The sensor ---

struct QZEMakeModule::Bus {
    bool selected = false;
    OptionalText protocol;
    std::string pins;
    bool pinsKnown = false;
    // The sensor refused the module's protocol or pins.
    bool refused = false;
};

QZEMakeModule::Bus QZEMakeModule::selectModuleBus(const QZEModuleData& module) {
    Bus before;
    if (!selectsModuleBus()) return before;
    auto& vehicle = QZEVehicle::TheVehicle();
    before.selected = true;
    before.protocol = vehicle.activeProtocolString();
    before.pins = activePins();
    // No pins known (no state tracker): nothing to keep or put back.
    before.pinsKnown = vehicle.activeHighPin() != 0;

    const auto protocol = protocolOf(module);
    const auto pins = module.extra("pins").text();
    if (protocol) {
        const bool selected = pins || m_traits.bus == QZEBusChoice::restore
                                  ? setProtocolIfNeeded(protocol)
                                  : selectProtocolKeepingPins(*protocol);
        before.refused = !selected;
    }
    if (pins && !before.refused) before.refused = !setPinsIfNeeded(pins);
    return before;
}

// Whatever the module's protocol and pins (or its row's protocol) moved is put back: the next
// module finds the sensor as the scanner left it.
void QZEMakeModule::restoreBus(const Bus& before) {
    if (!before.selected) return;
    auto& vehicle = QZEVehicle::TheVehicle();
    if (before.protocol && vehicle.activeProtocolString() != before.protocol)
        setProtocolIfNeeded(before.protocol);
    if (before.pinsKnown && activePins() != before.pins) setPinsIfNeeded(before.pins);
}

bool QZEMakeModule::selectProtocolKeepingPins(const std::string& protocol) {
    auto& vehicle = QZEVehicle::TheVehicle();
    const bool pinsKnown = vehicle.activeHighPin() != 0;
    const std::string pins = activePins();
    if (!setProtocolIfNeeded(protocol)) return false;
    return !pinsKnown || setPinsIfNeeded(pins);
}

bool QZEMakeModule::onModuleBus(const QZEModuleData& module,
                                const std::function<bool()>& exchange) {
    const Bus before = selectModuleBus(module);
    // On a bus the sensor did not select, another module would answer in its place.
    if (before.refused) {
        restoreBus(before);
        return false;
    }
    if (m_traits.startDelay > 0 && m_delayTransmission.exchange(false)) {
        log().logVerbose("Delaying the first K-line transmission by %@ s", m_traits.startDelay);
        QZEVehicle::TheVehicle().pause(m_traits.startDelay);
    }
    const bool ok = exchange();
    // The pins it answered on, before they are put back.
    if (ok && m_readingModule && QZEVehicle::TheVehicle().activeHighPin() != 0)
        m_answeredPins = activePins();
    restoreBus(before);
    return ok;
}

bool QZEMakeModule::onModuleBus(const QZEModuleData& module, const QZEModuleProtocol& row,
                                const std::function<bool()>& exchange) {
    return onModuleBus(module, [&] {
        if (!addressModule(module, row)) return false;
        ShownHeaders shown(*this, row.showHeaders);
        return shown.accepted() && exchange();
    });
}

bool QZEMakeModule::addressModule(const QZEModuleData& module, const QZEModuleProtocol& row) {
    const auto target = address(module.requestId());
    if (!target && (row.addressing != QZEAddressing::preset || row.prefixAddress)) return false;
    if (!row.protocol.empty() && !selectProtocolKeepingPins(row.protocol)) return false;
    switch (row.addressing) {
        case QZEAddressing::preset:
            return true;
        case QZEAddressing::can:
        case QZEAddressing::canNoFilter:
            if (!sendSetupCommandToOstrel(setupCommand("SH") + *target)) return false;
            if (row.addressing == QZEAddressing::can)
                if (auto response = address(module.responseId()))
                    return sendSetupCommandToOstrel(setupCommand("CF") + *response);
            return true;
        default:
            return sendSetupCommandToOstrel(setupCommand("SH") + headerFormat(row.addressing) +
                                            *target + "F1");
    }
}

// Headers the scanner already shows are left to it.
QZEMakeModule::ShownHeaders::ShownHeaders(QZEBaseDiagnosticModule& module, bool show)
    : module_(module), shown_(show && QZEVehicle::TheVehicle().headersShown() != true) {
    if (shown_) accepted_ = module_.sendSetupCommandToOstrel(setupCommand("H1"));
}

QZEMakeModule::ShownHeaders::~ShownHeaders() {
    if (shown_ && accepted_) module_.sendSetupCommandToOstrel(setupCommand("H0"));
}

void QZEMakeModule::notePins(QZEModuleData& module) const {
    if (QZEVehicle::TheVehicle().activeHighPin() != 0)
        module.setExtra("RESPONSE_PIN_COMMAND", activePins());
}

// --- Results ---

void QZEMakeModule::addDescribedCode(const std::string& code, const std::string& status,
                                     const std::string& description) {
    if (reply::isFillerCode(code)) return;
    const std::string text = description == QZETroubleCodes::kNoDescription ? "" : description;
    if (m_definitionArray.size() < m_codeArray.size()) m_definitionArray.resize(m_codeArray.size());
    const auto at = indexOfCode(code);
    if (!at) {
        addCode(code, status, text);
        return;
    }
    addCode(code, status);
    std::string& stored = m_definitionArray[*at];
    if (text.empty() || stored.find(text) != std::string::npos) return;
    stored = stored.empty() ? text : stored + "; " + text;
}

void QZEMakeModule::replaceCodes(const std::vector<std::string>& codes,
                                 const std::vector<std::string>& statuses,
                                 const std::vector<std::string>& descriptions) {
    clearResults();
    for (size_t i = 0; i < codes.size(); ++i)
        addDescribedCode(codes[i], i < statuses.size() ? statuses[i] : std::string(),
                         i < descriptions.size() ? descriptions[i] : std::string());
}

void QZEMakeModule::finishCodes(const QZEModuleData& module, const std::string& status,
                                bool completeTexts) {
    if (!status.empty())
        for (size_t i = 0; i < m_codeArray.size() && i < m_statusArray.size(); ++i)
            if (m_statusArray[i].empty()) m_statusArray[i] = status;
    const auto table = module.extra("dtcsDict").dictionary();
    auto tableText = [&](const std::string& code) -> std::optional<std::string> {
        if (!table) return std::nullopt;
        auto entry = table->find(code);
        if (entry == table->end()) return std::nullopt;
        return entry->second.text();
    };
    m_definitionArray.resize(m_codeArray.size());
    for (size_t i = 0; i < m_codeArray.size(); ++i) {
        std::string& text = m_definitionArray[i];
        if (!text.empty()) continue;
        const std::string& code = m_codeArray[i];
        const size_t dash = code.find('-');
        if (auto exact = tableText(code)) {
            text = *exact;
        } else if (dash != std::string::npos && m_traits.failureTypeTexts) {
            if (auto base = tableText(code.substr(0, dash))) {
                const std::string failureType = failureTypeText(code);
                if (!failureType.empty())
                    text = *base + failureType;
                else if (completeTexts)
                    text = *base;
            }
        }
    }
}

std::string QZEMakeModule::failureTypeText(const std::string& code) const {
    auto& catalogue = QZETroubleCodes::TheCodes();
    const std::string plain =
        catalogue.troubleCodeDef(code.substr(0, code.find('-')), m_vehicleManufacturer);
    if (plain == QZETroubleCodes::kNoDescription) return "";
    const std::string full = catalogue.troubleCodeDef(code, m_vehicleManufacturer);
    if (full.size() <= plain.size() + 2 || !full.starts_with(plain + ": ")) return "";
    return full.substr(plain.size());
}

}  // namespace qz
