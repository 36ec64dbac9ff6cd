#include "lib/Modules/QZEMakeModule.hpp"

#include <algorithm>
#include <cctype>

#include "lib/Descriptions/QZETroubleCodes.hpp"
#include "lib/Facades/QZEVehicle.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Utils/QZEnhancedUtils.hpp"
#include "platform/Clock.hpp"

namespace qz {

namespace {

// Time the K-line needs to rest after a pin or protocol switch before a module is woken.
constexpr double kKLineRest = 2.0;

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

// The K-line message of one line with headers shown, or none when the line is not one.
std::optional<QZEMessageBytes> headedKLineMessage(const reply::Tokens& t) {
    if (t.size() < 4 || !std::all_of(t.begin(), t.end(), isHexByte)) return std::nullopt;
    const int format = value(t[0]);
    if ((format & 0x80) == 0) return std::nullopt;
    size_t length = static_cast<size_t>(format & 0x3F);
    size_t head = 3;
    if (length == 0) {
        length = static_cast<size_t>(value(t[3]));
        head = 4;
    }
    if (head + length + 1 != t.size()) return std::nullopt;
    int sum = 0;
    for (size_t i = 0; i + 1 < t.size(); ++i) sum += value(t[i]);
    if ((sum & 0xFF) != value(t.back())) return std::nullopt;
    return strings(t.begin() + static_cast<std::ptrdiff_t>(head),
                   t.begin() + static_cast<std::ptrdiff_t>(head + length));
}

}  // namespace

// --- Reply layouts ---

std::vector<QZEMessageBytes> QZEMakeModule::kLineMessages(std::string_view text) {
    std::vector<QZEMessageBytes> out;
    for (auto line : reply::lines(text)) {
        auto t = reply::tokens(line);
        if (t.empty()) continue;
        if (auto message = headedKLineMessage(t))
            out.push_back(std::move(*message));
        else
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
    QZEMessageBytes current;
    size_t expected = 0;
    int sequence = 0;
    auto finish = [&] {
        if (!current.empty()) out.push_back(std::move(current));
        current.clear();
        expected = 0;
    };
    for (auto line : reply::lines(text)) {
        auto t = reply::tokens(line);
        if (!t.empty() && reply::isIdentifier(t[0])) t.erase(t.begin());
        // <address> <PCI> <data...>
        if (t.size() < 2 || !isHexByte(t[1])) continue;
        const int pci = value(t[1]);
        switch (pci >> 4) {
            case 0: {
                finish();
                size_t length = std::min<size_t>(static_cast<size_t>(pci & 15), t.size() - 2);
                if (length > 0) out.push_back(strings(t.begin() + 2, t.begin() + 2 + length));
                break;
            }
            case 1:
                finish();
                if (t.size() < 3) break;
                expected = (static_cast<size_t>(pci & 15) << 8) | static_cast<size_t>(value(t[2]));
                current = strings(t.begin() + 3, t.end());
                sequence = 1;
                break;
            case 2:
                if (expected == 0 || (pci & 15) != sequence) {
                    finish();
                    break;
                }
                sequence = (sequence + 1) & 15;
                current.insert(current.end(), t.begin() + 2, t.end());
                break;
            default:
                break;
        }
        if (expected > 0 && current.size() >= expected) {
            current.resize(expected);
            finish();
        }
    }
    finish();
    return out;
}

std::optional<QZEMessageBytes> QZEMakeModule::positiveMessage(
    const std::vector<QZEMessageBytes>& messages, std::string_view request) {
    auto requestTokens = reply::tokens(request);
    if (requestTokens.empty()) return std::nullopt;
    const int positive = (value(requestTokens[0]) + 0x40) & 0xFF;
    for (const auto& message : messages)
        if (!message.empty() && isHexByte(message[0]) && value(message[0]) == positive)
            return message;
    return std::nullopt;
}

std::vector<QZEKwpRecord> QZEMakeModule::kwpRecords(const QZEMessageBytes& message) {
    std::vector<QZEKwpRecord> out;
    if (message.size() < 2) return out;
    const size_t count = std::min(static_cast<size_t>(value(message[1])), (message.size() - 2) / 3);
    for (size_t r = 0; r < count; ++r) {
        const size_t at = 2 + 3 * r;
        out.push_back({value(message[at]), value(message[at + 1]), value(message[at + 2])});
    }
    return out;
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

// --- K-line ---

void QZEMakeModule::prepareKLine(const QZEModuleData& module, bool waitFirst) {
    const auto pins = module.extra("pins").text();
    if (auto protocol = module.extra("protocol").text()) {
        if (pins)
            setProtocolIfNeeded(protocol);
        else
            selectProtocolKeepingPins(*protocol);
    }
    if (pins) setPinsIfNeeded(pins);
    if (waitFirst) {
        log().logVerbose("Delaying the first K-line transmission by %@ s", kKLineRest);
        Clock::current()->sleepFor(kKLineRest);
    }
}

void QZEMakeModule::keepHighPin(int64_t highPin) {
    if (highPin <= 0 || QZEVehicle::TheVehicle().activeHighPin() == highPin) return;
    if (!QZEnhancedUtils::checkFwIsAtLeast(400, "PIN SWITCHING")) return;
    sendSetupCommandToOstrel(objcFormat("KQSM%lX0", highPin));
}

void QZEMakeModule::selectProtocolKeepingPins(const std::string& protocol) {
    auto& vehicle = QZEVehicle::TheVehicle();
    const int64_t high = vehicle.activeHighPin();
    const int64_t low = vehicle.activeLowPin();
    setProtocolIfNeeded(protocol);
    if (vehicle.activeHighPin() == high && vehicle.activeLowPin() == low) return;
    if (!QZEnhancedUtils::checkFwIsAtLeast(400, "PIN SWITCHING")) return;
    sendSetupCommandToOstrel(objcFormat("KQSM%lX%lX", high, low));
}

bool QZEMakeModule::selectKLineModule(const std::string& format, const std::string& moduleAddress) {
    return sendSetupCommandToOstrel(setupCommand("SH") + format + moduleAddress + "F1");
}

std::optional<QZEMessageBytes> QZEMakeModule::kLineRequest(const std::string& cmd) {
    return positiveMessage(kLineMessages(request(cmd, Retry::nrcKline)), cmd);
}

bool QZEMakeModule::readKLineCodes(const std::string& cmd) {
    const std::string reply = request(cmd, Retry::nrcKline);
    bool answered = false;
    for (auto message : kLineMessages(reply)) {
        if (!positiveMessage({message}, cmd)) continue;
        answered = true;
        // The base decoder reads the count after the "58" of ReadDTCByStatus; other read
        // services answer in the same layout under their own response byte.
        message[0] = "58";
        decodeKWP2000ResponseBytes(message);
    }
    return answered;
}

bool QZEMakeModule::clearKLine(const std::string& cmd) {
    return kLineRequest(cmd).has_value();
}

void QZEMakeModule::notePins(QZEModuleData& module) const {
    auto& vehicle = QZEVehicle::TheVehicle();
    module.setExtra("RESPONSE_PIN_COMMAND",
                    objcFormat("%lX%lX", vehicle.activeHighPin(), vehicle.activeLowPin()));
}

bool QZEMakeModule::readKLine(QZEModuleData& module, const QZEKLineMethod& method) {
    auto target = address(module.requestId());
    if (!target) return false;
    if (*method.protocol) selectProtocolKeepingPins(method.protocol);
    if (!selectKLineModule(method.format, *target)) return false;
    log().logVerbose("Reading %@ with the %@ method", module.description(), method.name);
    return readKLineCodes(method.read);
}

bool QZEMakeModule::clearKLine(const QZEModuleData& module, const QZEKLineMethod& method) {
    auto target = address(module.requestId());
    if (!target) return false;
    if (*method.protocol) selectProtocolKeepingPins(method.protocol);
    if (!selectKLineModule(method.format, *target)) return false;
    return clearKLine(method.clear);
}

// --- CAN ---

bool QZEMakeModule::selectCanModule(const QZEModuleData& module) {
    auto requestId = address(module.requestId());
    if (!requestId) return false;
    if (!sendSetupCommandToOstrel(setupCommand("SH") + *requestId)) return false;
    if (auto responseId = address(module.responseId()))
        return sendSetupCommandToOstrel(setupCommand("CF") + *responseId);
    return true;
}

std::string QZEMakeModule::canRequest(const std::string& cmd) {
    return request(cmd, Retry::nrcCan);
}

namespace {

std::vector<QZEMessageBytes> messagesOf(QZECanMethod::Layout layout, std::string_view reply) {
    return layout == QZECanMethod::Layout::extendedUds ? QZEMakeModule::extendedMessages(reply)
                                                       : QZEMakeModule::canMessages(reply);
}

}  // namespace

bool QZEMakeModule::readCanCodes(const QZECanMethod& method, const std::string& prefix) {
    ShownHeaders shown(*this, method.showHeaders);
    const std::string reply = canRequest(prefix + method.read);
    if (!positiveMessage(messagesOf(method.layout, reply), method.read)) return false;
    switch (method.layout) {
        case QZECanMethod::Layout::uds:
            decodeUds(reply);
            break;
        case QZECanMethod::Layout::kwp2000:
            decodeKWP2000CANResponse(reply);
            break;
        case QZECanMethod::Layout::extendedUds:
            decodeExtendedUds(reply);
            break;
    }
    return true;
}

bool QZEMakeModule::clearCan(const QZECanMethod& method, const std::string& prefix) {
    ShownHeaders shown(*this, method.showHeaders);
    const std::string reply = canRequest(prefix + method.clear);
    return positiveMessage(messagesOf(method.layout, reply), method.clear).has_value();
}

QZEMakeModule::ShownHeaders::ShownHeaders(QZEBaseDiagnosticModule& module, bool show)
    : module_(module), shown_(show) {
    if (shown_) module_.sendSetupCommandToOstrel(setupCommand("H1"));
}

QZEMakeModule::ShownHeaders::~ShownHeaders() {
    if (shown_) module_.sendSetupCommandToOstrel(setupCommand("H0"));
}

// --- Results ---

void QZEMakeModule::addDescribedCode(const std::string& code, const std::string& status,
                                     const std::string& description) {
    if (reply::isFillerCode(code)) return;
    addCode(code, status);
    if (!description.empty() && description != QZETroubleCodes::kNoDescription)
        m_descriptions.emplace(code, description);
}

void QZEMakeModule::finishDefinitions(const QZEModuleData& module, bool completeTexts) {
    const auto table = module.extra("dtcsDict").dictionary();
    auto tableText = [&](const std::string& code) -> std::optional<std::string> {
        if (!table) return std::nullopt;
        auto entry = table->find(code);
        if (entry == table->end()) return std::nullopt;
        return entry->second.text();
    };
    std::vector<std::string> definitions;
    definitions.reserve(m_codeArray.size());
    for (const auto& code : m_codeArray) {
        std::string text;
        const size_t dash = code.find('-');
        if (auto it = m_descriptions.find(code); it != m_descriptions.end()) {
            text = it->second;
        } else if (auto exact = tableText(code)) {
            text = *exact;
        } else if (dash != std::string::npos) {
            if (auto base = tableText(code.substr(0, dash))) {
                const std::string failureType = failureTypeText(code);
                if (!failureType.empty())
                    text = *base + failureType;
                else if (completeTexts)
                    text = *base;
            }
        }
        definitions.push_back(std::move(text));
    }
    m_definitionArray = std::move(definitions);
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
