#include "lib/Modules/Makes/QZEProtocolModule.hpp"

#include <algorithm>
#include <cctype>

#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Facades/QZEVehicle.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Modules/QZENaks.hpp"
#include "platform/Clock.hpp"

namespace qz {

namespace {

// The pause a K-line class makes before its first exchange after a pin switch or set-up, so
// that the line is idle before the next initialisation.
constexpr double kKLineStartDelay = 1.0;

bool isByteToken(std::string_view token) {
    return token.size() == 2 && std::isxdigit(static_cast<unsigned char>(token[0])) &&
           std::isxdigit(static_cast<unsigned char>(token[1]));
}

// The first byte of a request text ("18 00 FF 00" -> 0x18); -1 when there is none.
int serviceByte(const std::string& request) {
    auto t = reply::tokens(request);
    if (t.empty()) return -1;
    if (t[0].size() == 2) return reply::byteValue(t[0]);
    // A request written without blanks ("1902FF").
    return reply::byteValue(t[0].substr(0, 2));
}

bool isKLine(QZEAddressing addressing) {
    return addressing == QZEAddressing::kLine || addressing == QZEAddressing::kLineLength;
}

}  // namespace

// --- The rows ---

namespace {
using A = QZEAddressing;
using L = QZEReplyLayout;
using R = QZEBaseDiagnosticModule::Retry;
}  // namespace

// clang-format off
// Addressing, read request, reply layout, clear request, retries; then, where a row needs them: the status of codes
// whose reply gives none, the request id in front of each request, the positive answers to the read and the clear.
const QZEModuleProtocol QZEModuleProtocols::fordPwm           {A::j1850Pwm,    "13",             L::j1850Pwm,          "14",          R::nrcKline, "STORED"};
const QZEModuleProtocol QZEModuleProtocols::fordCanKwp        {A::can,         "18 00 FF 00",    L::kwp2000Can,        "14 FF 00",    R::nrcCan};
const QZEModuleProtocol QZEModuleProtocols::fordCanUds        {A::can,         "19 02 FF",       L::uds,               "14 FF FF FF", R::nrcCan};
const QZEModuleProtocol QZEModuleProtocols::gmVpw             {A::j1850Vpw,    "19 D2 FF 00",    L::j1850VpwGm,        "14",          R::nrcKline};
const QZEModuleProtocol QZEModuleProtocols::gmCan             {A::canNoFilter, "A9 81 12",       L::gmlan,             "04",          R::nrcCan,   "",       false, 0x81};
const QZEModuleProtocol QZEModuleProtocols::chryslerVpw       {A::j1850Vpw,    "13",             L::j1850Pwm,          "14",          R::nrcKline, "STORED"};
const QZEModuleProtocol QZEModuleProtocols::chryslerCan       {A::can,         "18 00 FF 00",    L::kwp2000Can,        "14 FF 00",    R::nrcCan};
const QZEModuleProtocol QZEModuleProtocols::toyotaCan         {A::can,         "13",             L::toyotaCan,         "14",          R::nrcCan,   "STORED"};
const QZEModuleProtocol QZEModuleProtocols::toyotaExtendedCan {A::preset,      "13",             L::toyotaExtendedCan, "14",          R::nrcCan,   "STORED", true};
const QZEModuleProtocol QZEModuleProtocols::toyotaKLine       {A::kLine,       "13",             L::toyotaKLine,       "14",          R::nrcKline, "STORED"};
const QZEModuleProtocol QZEModuleProtocols::hondaKLine        {A::kLine,       "18 00 FF 00",    L::kwp2000KLine,      "14 FF 00",    R::nrcKline};
const QZEModuleProtocol QZEModuleProtocols::hondaCan          {A::can,         "19 02 FF",       L::uds,               "14 FF FF FF", R::nrcCan};
const QZEModuleProtocol QZEModuleProtocols::hyundaiKLine      {A::kLine,       "18 00 FF 00",    L::kwp2000KLine,      "14 FF 00",    R::nrcKline};
const QZEModuleProtocol QZEModuleProtocols::hyundaiCan        {A::can,         "19 02 FF",       L::uds,               "14 FF FF FF", R::nrcCan};
const QZEModuleProtocol QZEModuleProtocols::hyundaiMut        {A::kLineLength, "04 18 00 FF 00", L::kwp2000KLine,      "03 14 FF 00", R::nrcKline, "",       false, 0x58, 0x54};
// clang-format on

// --- Reading and clearing ---

bool QZEProtocolModule::scanCodes(QZEModuleData& module) {
    return read(module, protocolFor(module));
}

bool QZEProtocolModule::clearCodes(QZEModuleData& module) {
    return clear(module, protocolFor(module));
}

bool QZEProtocolModule::read(QZEModuleData& module, const QZEModuleProtocol& row) {
    beforeExchange();
    const bool ok = onModuleBus(module, [&] {
        address(module, row.addressing);
        const std::string reply = request(requestText(module, row.read, row), row.retry);
        if (!answeredPositively(reply, row.read, row.readPositive, isKLine(row.addressing)))
            return false;
        decode(reply, row);
        return true;
    });
    completeCodes(module, row.status);
    if (ok) afterGoodRead(module);
    return ok;
}

bool QZEProtocolModule::clear(QZEModuleData& module, const QZEModuleProtocol& row) {
    beforeExchange();
    return onModuleBus(module, [&] {
        address(module, row.addressing);
        const std::string reply = request(requestText(module, row.clear, row), row.retry);
        return answeredPositively(reply, row.clear, row.clearPositive, isKLine(row.addressing));
    });
}

// --- The sensor ---

std::string QZEProtocolModule::activePins() {
    auto& vehicle = QZEVehicle::TheVehicle();
    return objcFormat("%lX%lX", vehicle.activeHighPin(), vehicle.activeLowPin());
}

bool QZEProtocolModule::onModuleBus(const QZEModuleData& module,
                                    const std::function<bool()>& exchange) {
    if (!selectsModuleBus()) return exchange();
    auto& vehicle = QZEVehicle::TheVehicle();
    const OptionalText protocolBefore = vehicle.activeProtocolString();
    const std::string pinsBefore = activePins();
    // No pins known (no state tracker): nothing to keep or put back.
    const bool pinsKnown = vehicle.activeHighPin() != 0;

    const auto protocol = protocolOf(module);
    const auto pins = module.extra("pins").text();
    if (protocol) setProtocolIfNeeded(protocol);
    if (pins) setPinsIfNeeded(pins);

    const bool ok = exchange();

    if (protocol && protocolBefore && vehicle.activeProtocolString() != protocolBefore)
        setProtocolIfNeeded(protocolBefore);
    if (pinsKnown && activePins() != pinsBefore) setPinsIfNeeded(pinsBefore);
    return ok;
}

std::optional<std::string> QZEProtocolModule::protocolOf(const QZEModuleData& module) const {
    return module.extra("protocol").text();
}

std::optional<std::string> QZEProtocolModule::lineHeader(QZEAddressing addressing,
                                                         const std::string& id) {
    switch (addressing) {
        case QZEAddressing::kLine:
            return "81" + id + "F1";
        case QZEAddressing::kLineLength:
            return "80" + id + "F1";
        case QZEAddressing::j1850Pwm:
            return "C4" + id + "F1";
        case QZEAddressing::j1850Vpw:
            return "6C" + id + "F1";
        case QZEAddressing::preset:
        case QZEAddressing::can:
        case QZEAddressing::canNoFilter:
            break;
    }
    return std::nullopt;
}

void QZEProtocolModule::address(const QZEModuleData& module, QZEAddressing addressing) {
    const auto request = module.requestId();
    const auto response = module.responseId();
    switch (addressing) {
        case QZEAddressing::preset:
            return;
        case QZEAddressing::can:
        case QZEAddressing::canNoFilter:
            if (request && !request->empty())
                sendSetupCommandToOstrel(setupCommand("SH") + *request);
            if (addressing == QZEAddressing::can && response && !response->empty())
                sendSetupCommandToOstrel(setupCommand("CF") + *response);
            return;
        default:
            if (!request || request->empty()) return;
            if (auto header = lineHeader(addressing, *request))
                sendSetupCommandToOstrel(setupCommand("SH") + *header);
            return;
    }
}

std::string QZEProtocolModule::requestText(const QZEModuleData& module, const std::string& request,
                                           const QZEModuleProtocol& row) {
    if (!row.prefixAddress) return request;
    return module.requestId().value_or("") + " " + request;
}

void QZEProtocolModule::waitBeforeFirstKLineExchange() {
    QZELogging::shared().logVerbose("Waiting %@ s before the first K-line exchange",
                                    std::to_string(kKLineStartDelay));
    Clock::current()->sleepFor(kKLineStartDelay);
}

// --- Replies ---

std::vector<std::vector<std::string>> QZEProtocolModule::kLineMessages(std::string_view text) {
    std::vector<std::vector<std::string>> messages;
    for (auto line : reply::lines(text)) {
        auto t = reply::tokens(line);
        if (t.empty() || !std::all_of(t.begin(), t.end(), isByteToken)) continue;
        const int first = reply::byteValue(t[0]);
        if (!(first & 0x80)) {
            messages.emplace_back(t.begin(), t.end());
            continue;
        }
        // <format> <target> <source> [length] data... <checksum>
        size_t at = 3;
        size_t length = static_cast<size_t>(first & 0x3F);
        if (length == 0) {
            if (t.size() < 4) continue;
            length = static_cast<size_t>(reply::byteValue(t[3]));
            at = 4;
        }
        if (t.size() <= at) continue;
        length = std::min(length, t.size() - at);
        messages.emplace_back(t.begin() + static_cast<std::ptrdiff_t>(at),
                              t.begin() + static_cast<std::ptrdiff_t>(at + length));
    }
    return messages;
}

bool QZEProtocolModule::answeredPositively(std::string_view reply, const std::string& request,
                                           int positive, bool kLine) {
    if (positive < 0) {
        const int service = serviceByte(request);
        if (service < 0) return false;
        positive = (service + 0x40) & 0xFF;
    }
    if (QZENaks::isNAK(reply)) return false;
    if (kLine) {
        for (const auto& message : kLineMessages(reply))
            if (!message.empty() && reply::byteValue(message[0]) == positive) return true;
        return false;
    }
    for (auto token : reply::tokens(reply))
        if (isByteToken(token) && reply::byteValue(token) == positive) return true;
    return false;
}

void QZEProtocolModule::decode(std::string_view reply, const QZEModuleProtocol& row) {
    switch (row.layout) {
        case QZEReplyLayout::kwp2000Can:
            decodeKWP2000CANResponse(reply);
            return;
        case QZEReplyLayout::kwp2000KLine:
            for (const auto& message : kLineMessages(reply))
                if (!message.empty() && message[0] == "58") decodeKWP2000ResponseBytes(message);
            return;
        case QZEReplyLayout::gmlan:
            decodeEnhancedCodesCANGMJ2012(reply);
            return;
        case QZEReplyLayout::j1850Pwm:
            decodeCodesPWMFordJ2012(reply);
            return;
        case QZEReplyLayout::j1850VpwGm:
            decodeEnhancedCodesVPWGMJ2012(reply);
            return;
        case QZEReplyLayout::toyotaCan:
            decodeToyotaDataCAN(reply, row.status);
            return;
        case QZEReplyLayout::toyotaKLine:
            decodeToyotaDataKLine(reply, row.status);
            return;
        case QZEReplyLayout::toyotaExtendedCan:
            decodeExtendedCANBroadcast(reply, true, row.status);
            return;
        case QZEReplyLayout::uds:
            decodeUds(reply);
            return;
    }
}

// --- Codes ---

void QZEProtocolModule::completeCodes(const QZEModuleData& module, const std::string& status) {
    if (!status.empty())
        for (size_t i = 0; i < m_codeArray.size() && i < m_statusArray.size(); ++i)
            if (m_statusArray[i].empty()) m_statusArray[i] = status;
    if (m_codeArray.empty()) return;
    if (m_definitionArray.size() < m_codeArray.size()) m_definitionArray.resize(m_codeArray.size());
    const auto texts = module.extra("dtcsDict").dictionary();
    if (!texts) return;
    for (size_t i = 0; i < m_codeArray.size(); ++i) {
        if (!m_definitionArray[i].empty()) continue;
        auto it = texts->find(m_codeArray[i]);
        if (it == texts->end()) continue;
        if (auto text = it->second.text()) m_definitionArray[i] = *text;
    }
}

void QZEProtocolModule::addDescribedCode(const std::string& code, const std::string& status,
                                         const std::string& description) {
    if (m_definitionArray.size() < m_codeArray.size()) m_definitionArray.resize(m_codeArray.size());
    auto it = std::find(m_codeArray.begin(), m_codeArray.end(), code);
    if (it == m_codeArray.end()) {
        addCode(code, status, description);
        return;
    }
    addCode(code, status);
    std::string& stored = m_definitionArray[static_cast<size_t>(it - m_codeArray.begin())];
    if (description.empty() || stored.find(description) != std::string::npos) return;
    stored = stored.empty() ? description : stored + "; " + description;
}

void QZEProtocolModule::replaceCodes(const std::vector<std::string>& codes,
                                     const std::vector<std::string>& statuses,
                                     const std::vector<std::string>& descriptions) {
    m_codeArray.clear();
    m_statusArray.clear();
    m_definitionArray.clear();
    for (size_t i = 0; i < codes.size(); ++i)
        addDescribedCode(codes[i], i < statuses.size() ? statuses[i] : std::string(),
                         i < descriptions.size() ? descriptions[i] : std::string());
}

}  // namespace qz
