#include "lib/Modules/QZEMakeModule.hpp"

#include <algorithm>
#include <cctype>

#include "lib/Decoders/QZEBitEncodedAddress.hpp"
#include "lib/Descriptions/QZETroubleCodes.hpp"
#include "lib/Facades/QZEVehicle.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Utils/QZEnhancedUtils.hpp"

namespace qz {

// --- The tables ---

namespace {
using A = QZEAddressing;
using L = QZEReplyLayout;
using R = QZEBaseDiagnosticModule::Retry;
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

// The module's bus, the rest before the first exchange, pins noted, failure-type texts.
const QZEModuleTraits QZEModuleTraits::restoring    {B::restore,  0, false, false};
const QZEModuleTraits QZEModuleTraits::hyundaiKLine {B::restore,  1, true,  false};
const QZEModuleTraits QZEModuleTraits::kLine        {B::keepPins, 2, true,  true};
const QZEModuleTraits QZEModuleTraits::can          {B::keepPins, 0, false, true};
// clang-format on

namespace {

// Further reads of a module whose answer was cut short.
constexpr int kRereads = 2;

QZELogging& log() {
    return QZELogging::shared();
}

int value(std::string_view token) {
    return reply::byteValue(token);
}

QZEFraming framingOf(QZEReplyLayout layout) {
    switch (layout) {
        case QZEReplyLayout::kwp2000KLine:
        case QZEReplyLayout::toyotaKLine:
        case QZEReplyLayout::bitTable:
            return QZEFraming::kLine;
        case QZEReplyLayout::toyotaExtendedCan:
        case QZEReplyLayout::extendedUds:
            return QZEFraming::canExtended;
        case QZEReplyLayout::j1850Pwm:
        case QZEReplyLayout::j1850VpwGm:
            return QZEFraming::j1850;
        default:
            return QZEFraming::can;
    }
}

QZERecordLayout recordsOf(QZEReplyLayout layout) {
    switch (layout) {
        case QZEReplyLayout::kwp2000Can:
        case QZEReplyLayout::kwp2000KLine:
            return QZERecordLayout::kwp2000();
        case QZEReplyLayout::uds:
        case QZEReplyLayout::extendedUds:
            return QZERecordLayout::uds();
        case QZEReplyLayout::toyotaCan:
        case QZEReplyLayout::toyotaExtendedCan:
            return QZERecordLayout::toyota();
        case QZEReplyLayout::bitTable:
            return {3, -1, 0};  // "<read + 40> <byte> <fault bits>"
        case QZEReplyLayout::j1850Pwm:
            // "<response> A B A B": a message ending inside a code is cut; a module without
            // faults answers "53 00 00", so the response byte alone is cut too.
            return {1, -1, 2, 1};
        case QZEReplyLayout::j1850VpwGm:
            return {1, -1, 3, 1};  // "59 A B <status>", one code a message
        case QZEReplyLayout::gmlan:
            return {8, -1, 0};  // "81 A B <failure type> <status>" in a whole frame of 8 bytes
        case QZEReplyLayout::toyotaKLine:
            return QZERecordLayout::toyotaKLine();
        default:
            return {};
    }
}

// GM lists end with a record of the code bytes 00 00 ("59 00 00 FF", "81 00 00 00 FF ...").
bool isListEnd(const QZEMessageBytes& message) {
    return message.size() >= 3 && value(message[1]) == 0 && value(message[2]) == 0;
}

// The sensor's error words printed beside a module's answer ("CAN ERROR"), or empty.
std::string wordsBeside(std::string_view text) {
    for (auto line : reply::lines(text)) {
        const auto t = reply::tokens(line);
        if (t.empty() || reply::isNotice(line) || reply::isDamagedLine(t)) continue;
        if (!reply::holdsSensorError(line)) continue;
        return reply::joinedTokens(t);
    }
    return {};
}

// What a module did whose reply could not be read, said of the module.
std::string unreadableAnswer(const QZEModuleReply& reply) {
    switch (reply.kind) {
        case QZEReplyKind::pending:
            return "only ever answered \"response pending\"";
        case QZEReplyKind::busy:
            return "only ever answered that it was busy";
        case QZEReplyKind::damaged: {
            if (reply::holdsDamagedFrame(reply.text))
                return "answered only in part: a frame of its answer was damaged";
            const std::string words = wordsBeside(reply.text);
            if (!words.empty()) {
                std::string said = "answered, with the sensor's error \"";
                said.append(words).append("\" beside the answer");
                return said;
            }
            return "answered only in part: its answer was damaged";
        }
        case QZEReplyKind::elsewhere:
            return "was answered only from another address";
        default:
            if (reply.unknown) return "may have answered: its reply did not come through in time";
            return "answered only in part: its answer was cut short";
    }
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

QZEAsked QZEMakeModule::askedFor(const QZEModuleData& module, const QZEModuleProtocol& row,
                                 const std::string& request, int positive) const {
    const auto t = reply::tokens(request);
    // The service is the first byte, unless a byte the positive answer names comes later (the
    // MUT line's requests start with their length).
    size_t at = 0;
    for (size_t i = 0; positive >= 0 && i < t.size(); ++i)
        if (((value(t[i]) + 0x40) & 0xFF) == positive) {
            at = i;
            break;
        }
    QZEAsked asked =
        QZEAsked::of(t.empty() ? std::string_view() : t[at], framingOf(row.layout), displayed());
    asked.positive = positive;
    if (request == row.read) asked.records = recordsOf(row.layout);
    if (auto from = answersFrom(module)) asked.from.push_back(*from);
    // GMLAN's unacknowledged frames come on the identifier paired with the module's.
    asked.pairedFrames = row.addressing == QZEAddressing::canNoFilter;
    return asked;
}

std::optional<std::string> QZEMakeModule::answersFrom(const QZEModuleData& module) const {
    return address(module.responseId());
}

QZEModuleReply QZEMakeModule::sendRow(const QZEModuleData& module, const QZEModuleProtocol& row,
                                      const std::string& request, const QZEAsked& asked) {
    if (!row.prefixAddress) return exchange(request, row.retry, asked);
    return exchange(address(module.requestId()).value_or("") + " " + request, row.retry, asked);
}

bool QZEMakeModule::readAddressed(const QZEModuleData& module, const QZEModuleProtocol& row) {
    if (row.layout == QZEReplyLayout::bitTable) {
        auto table = module.extra("dtcBitEncodedDitct").object<QZEBitEncodedAddress>();
        return table && readBitTable(module, *table, row);
    }
    const QZEAsked asked = askedFor(module, row, row.read, row.readPositive);
    return readWhileCutShort(
        module, [&] { return checkedList(sendRow(module, row, row.read, asked), row.layout); },
        [&](const QZEModuleReply& reply) { decodeMessages(reply, row); });
}

QZEModuleReply QZEMakeModule::checkedList(QZEModuleReply reply, QZEReplyLayout layout) {
    if (reply.kind != QZEReplyKind::answer && reply.kind != QZEReplyKind::cutShort) return reply;
    auto& messages = reply.messages;
    auto& whole = reply.whole;
    whole.resize(messages.size(), false);
    switch (layout) {
        case QZEReplyLayout::gmlan:
        case QZEReplyLayout::j1850VpwGm: {
            if (messages.empty()) break;
            if (reply.withRefusal) {
                // A GM module is asked alone: its refusal beside a list is another answer glued
                // to its own, and neither can be told apart.
                std::fill(whole.begin(), whole.end(), false);
                reply.kind = QZEReplyKind::damaged;
                break;
            }
            const auto end = std::find_if(messages.begin(), messages.end(), isListEnd);
            if (end != messages.end() && end + 1 != messages.end()) {
                // Messages after the list's end belong to no list of the module's.
                for (auto i = static_cast<size_t>(end - messages.begin()) + 1; i < whole.size();
                     ++i)
                    whole[i] = false;
                reply.kind = QZEReplyKind::damaged;
            } else if (end == messages.end()) {
                reply.kind = QZEReplyKind::cutShort;  // stopped before its end
            }
            break;
        }
        default:
            break;
    }
    return reply;
}

bool QZEMakeModule::readWhileCutShort(const QZEModuleData& module,
                                      const std::function<QZEModuleReply()>& readOnce,
                                      const std::function<void(const QZEModuleReply&)>& decode) {
    // A whole answer that follows cut-short ones replaces what they gave (a frame that ran short
    // shifts every byte after it); without one, the codes of every read are kept.
    const Results before = results();
    bool answered = false;
    bool seen = false;   // a reply so far held something of the module
    std::string unread;  // what the last reply that could not be read was
    for (int read = 1;; ++read) {
        const QZEModuleReply reply = readOnce();
        noteSetAside(module, reply);
        const bool cut = reply.readAgain();
        if (reply.unreadable()) unread = unreadableAnswer(reply);
        if (reply.answered() && read > 1) restoreResults(before);
        if (!readableMessages(reply).empty()) {
            decode(reply);
            answered = true;
        }
        if (reply.answered()) break;
        // The first reply tells all unless it was cut; a read again that brings no whole answer
        // (no answer, a refusal) leaves the cut ones' codes, and the read incomplete. After
        // replies that held nothing of the module, the read again tells all.
        const bool incomplete = cut || (read > 1 && seen) || reply.unreadable();
        seen = seen || !reply.unknown;
        if (!incomplete) break;
        if (!cut || read > kRereads) {
            log().logWarning(
                "Incomplete answer from module: %@ with request_ID: %@ after %@ "
                "reads, keeping its %lu codes: %@",
                module.description(), module.requestId(), std::to_string(read), m_codeArray.size(),
                unread);
            // Frames without their beginning are no answer.
            if (!answered && responseState() == ResponseStateHasData)
                setResponseState(ResponseStateNoData);
            noteOutcome(QZEReadOutcome::incomplete);
            break;
        }
        log().logInfo("Reading module again: %@ with request_ID: %@, its answer was cut short",
                      module.description(), module.requestId());
    }
    return answered;
}

void QZEMakeModule::decodeMessages(const QZEModuleReply& reply, const QZEModuleProtocol& row) {
    // Of a damaged reply the messages that came whole (readableMessages); a Toyota K-line
    // message cut short no longer tells by its length whether a count follows its response byte.
    const bool wholeOnly =
        reply.kind == QZEReplyKind::damaged || row.layout == QZEReplyLayout::toyotaKLine;
    for (size_t i = 0; i < reply.messages.size(); ++i) {
        const auto& message = reply.messages[i];
        if (wholeOnly && !(i < reply.whole.size() && reply.whole[i])) continue;
        switch (row.layout) {
            case QZEReplyLayout::kwp2000Can:
            case QZEReplyLayout::kwp2000KLine: {
                // The records follow the count after the response byte, whatever the read
                // service answering in this layout.
                QZEMessageBytes records = message;
                records[0] = "58";
                decodeKWP2000ResponseBytes(records);
                break;
            }
            case QZEReplyLayout::gmlan:
                decodeGmlanMessage(message);
                break;
            case QZEReplyLayout::j1850Pwm:
                decodePwmMessage(message);
                break;
            case QZEReplyLayout::j1850VpwGm:
                decodeVpwGmMessage(message);
                break;
            case QZEReplyLayout::toyotaCan:
            case QZEReplyLayout::toyotaExtendedCan:
                decodeToyotaMessage(message, row.status);
                break;
            case QZEReplyLayout::toyotaKLine:
                decodeToyotaMessage(message, row.status, true);
                break;
            case QZEReplyLayout::uds:
            case QZEReplyLayout::extendedUds:
                decodeUdsMessage(message);
                break;
            case QZEReplyLayout::bitTable:
                break;
        }
    }
}

void QZEMakeModule::noteSetAside(const QZEModuleData& module, const QZEModuleReply& reply) {
    for (const auto& from : reply.setAside)
        log().logWarning("answer from %@ set aside for %@ (%@)", from,
                         module.accronym() ? module.accronym() : module.description(),
                         address(module.responseId()).value_or(""));
}

bool QZEMakeModule::clearAddressed(const QZEModuleData& module, const QZEModuleProtocol& row) {
    return sendRow(module, row, row.clear, askedFor(module, row, row.clear, row.clearPositive))
        .answered();
}

bool QZEMakeModule::readBitTable(const QZEModuleData& module, const QZEBitEncodedAddress& table,
                                 const QZEModuleProtocol& row) {
    const auto j2012 = module.extra("dtcJ2012EncodedDict").dictionary();
    const QZEAsked asked = askedFor(module, row, row.read, row.readPositive);
    Tables tables;
    for (uint64_t byte : table.addresses()) {
        const std::string name = hexByte(static_cast<int>(byte));
        // "<read + 40> <byte> <fault bits>"
        auto ours = [&](const QZEMessageBytes& m) {
            return m.size() >= 3 && static_cast<uint64_t>(value(m[1])) == (byte & 0xFF);
        };
        const QZEModuleReply reply =
            requestTable(module, row.read + " " + name, row, asked, ours, name, tables);
        auto message = std::find_if(reply.messages.begin(), reply.messages.end(), ours);
        if (!reply.answered() || message == reply.messages.end()) continue;
        const int bits = value((*message)[2]);
        for (uint64_t bit = 0; bit < 8; ++bit) {
            if (!(bits & (1 << bit))) continue;
            auto info = table.infoForBit(bit, byte);
            if (!info || (*info)[0].empty()) {
                log().logVerbose("No fault for bit %@ of byte %@", bit, name);
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
    return endTableRead(module, tables);
}

QZEModuleReply QZEMakeModule::requestTable(const QZEModuleData& module, const std::string& cmd,
                                           const QZEModuleProtocol& row, const QZEAsked& asked,
                                           const std::function<bool(const QZEMessageBytes&)>& ours,
                                           const std::string& name, Tables& tables) {
    QZEModuleReply reply = exchange(cmd, row.retry, asked);
    noteSetAside(module, reply);
    // A table damaged or cut short is asked for again, as a module's answer is.
    for (int read = 1; read <= kRereads && reply.readAgain(); ++read) {
        log().logInfo("Reading module again: %@ with request_ID: %@, its answer was cut short",
                      module.description(), module.requestId());
        reply = exchange(cmd, row.retry, asked);
        noteSetAside(module, reply);
    }
    switch (reply.kind) {
        case QZEReplyKind::answer:
            if (std::none_of(reply.messages.begin(), reply.messages.end(), ours)) break;
            tables.answered = true;
            return reply;
        case QZEReplyKind::refusal:  // the module has no such table
            tables.refused = true;
            return reply;
        case QZEReplyKind::cutShort:
        case QZEReplyKind::damaged:
        case QZEReplyKind::pending:
        case QZEReplyKind::busy:
        case QZEReplyKind::elsewhere:
            tables.unreadable = true;
            break;
        default:
            break;
    }
    tables.unanswered += (tables.unanswered.empty() ? "" : " ") + name;
    return reply;
}

bool QZEMakeModule::endTableRead(const QZEModuleData& module, const Tables& tables) {
    if ((tables.answered || tables.refused || tables.unreadable) && !tables.unanswered.empty()) {
        log().logWarning(
            "Fault tables not answered by module: %@ with request_ID: %@: %@, keeping its %lu "
            "codes",
            module.description(), module.requestId(), tables.unanswered, m_codeArray.size());
        noteOutcome(QZEReadOutcome::incomplete);
    }
    // Tables that could not be read alone are no answer.
    if (!tables.answered && !tables.refused && responseState() == ResponseStateHasData)
        setResponseState(ResponseStateNoData);
    return tables.answered;
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
bool QZEMakeModule::restoreBus(const Bus& before) {
    if (!before.selected) return true;
    auto& vehicle = QZEVehicle::TheVehicle();
    bool restored = true;
    if (before.protocol && vehicle.activeProtocolString() != before.protocol)
        restored = setProtocolIfNeeded(before.protocol);
    if (before.pinsKnown && activePins() != before.pins)
        restored = setPinsIfNeeded(before.pins) && restored;
    return restored;
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
        noteOutcome(QZEReadOutcome::setupRefused);
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
    // Not put back, the sensor is not where the next module expects it.
    if (!restoreBus(before)) noteOutcome(QZEReadOutcome::setupRefused);
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
    if (!row.protocol.empty() && !selectProtocolKeepingPins(row.protocol)) {
        noteOutcome(QZEReadOutcome::setupRefused);
        return false;
    }
    switch (row.addressing) {
        case QZEAddressing::preset:
            return true;
        case QZEAddressing::can:
        case QZEAddressing::canNoFilter:
            if (!setUpForRead(setupCommand("SH") + *target)) return false;
            if (row.addressing == QZEAddressing::can)
                if (auto response = address(module.responseId()))
                    return setUpForRead(setupCommand("CF") + *response);
            return true;
        default:
            return setUpForRead(setupCommand("SH") + headerFormat(row.addressing) + *target + "F1");
    }
}

// Headers the scanner already shows are left to it.
QZEMakeModule::ShownHeaders::ShownHeaders(QZEBaseDiagnosticModule& module, bool show)
    : module_(module), shown_(show && QZEVehicle::TheVehicle().headersShown() != true) {
    if (shown_) accepted_ = module_.setUpForRead(setupCommand("H1"));
}

QZEMakeModule::ShownHeaders::~ShownHeaders() {
    // A put-back refused leaves the headers shown, as the vehicle follows: the read is done and
    // the next one works in that state.
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
