// The generic OBD-II code read and the code texts of QZEnhancedScanner.

#include <algorithm>
#include <cctype>
#include <unordered_set>

#include "lib/Decoders/QZEModuleReply.hpp"
#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Descriptions/QZETroubleCodes.hpp"
#include "lib/Facades/QZEAdapters.hpp"
#include "lib/Facades/QZEData.hpp"
#include "lib/Facades/QZEVehicle.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"
#include "lib/Scanning/QZEnhancedScanner.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"
#include "lib/Utils/QZEnhancedUtils.hpp"

namespace qz {

namespace {

using Texts = std::vector<std::string>;

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// A code as the sensor lists it: a letter of B, C, P, U and four hex digits, read without the
// failure-type byte that may follow it ("U0100-87"); none for any other token.
std::optional<std::string> listedCode(const std::string& token) {
    std::string code = token;
    if (token.size() == 8 && token[5] == '-' && reply::isByte(std::string_view(token).substr(6)))
        code.resize(5);
    if (code.size() != 5 || !QZEnhancedUtils::isJ2012(code) || code == "P0000") return std::nullopt;
    return code;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

constexpr const char* kEngine = "ENGINE";

// The lines of a reply that are no flagged frame (a failed request has none); of a reply cut
// short, the lines it ended.
std::string wholeLines(std::string_view reply, bool cutShort) {
    std::string out;
    if (reply == QZVehicleCommunicationProtocol::kNoDataReply) return out;
    if (cutShort) reply = reply.substr(0, reply.find_last_of("\r\n") + 1);
    for (auto line : reply::lines(reply))
        if (!reply::isDamagedLine(reply::tokens(line))) out.append(line).append("\r");
    return out;
}

}  // namespace

bool QZEnhancedScanner::isCodeListAnswer(const OptionalText& reply, const QZEDisplayForm& display) {
    if (!reply || *reply == QZVehicleCommunicationProtocol::kNoDataReply) return false;
    if (reply::holdsSensorError(*reply)) return false;
    static const std::unordered_set<std::string> echoes = {"KQTC", "KQTCP", "KQTCA",
                                                           "ATTC", "ATTCP", "ATTCA"};
    // A negative answer where a message begins, to any of the code services. A code list is the
    // sensor's own print: read in the display form in force when that shows headers; otherwise
    // the shape of each line decides.
    QZEAsked anyService;
    if (display.headers == true) {
        anyService.display = display;
        anyService.positive = QZEAsked::kAnyByte;  // a unit's answer to whichever code service
    }
    for (auto line : reply::lines(*reply)) {
        const auto t = reply::tokens(line);
        if (t.empty() || reply::isNotice(line) || reply::holdsNoData(line)) continue;
        if (t.size() == 1 && echoes.contains(upper(std::string(t[0])))) continue;
        if (std::all_of(t.begin(), t.end(), reply::isHexToken)) {
            switch (QZEModuleReply::classify(line, anyService).kind) {
                // The vehicle's refusal.
                case QZEReplyKind::refusal:
                case QZEReplyKind::pending:
                case QZEReplyKind::busy:
                    return false;
                // A unit's answer in the form told, printed without blanks ("7E80143"): bytes.
                case QZEReplyKind::answer:
                    if (display.headers == true) continue;
                    break;
                default:
                    break;
            }
        }
        for (size_t i = 0; i < t.size(); ++i) {
            // A code the module is built with, or the filler: a code half read is none.
            const bool code = listedCode(std::string(t[i])) ||
                              (t[i].size() == 5 && QZEnhancedUtils::isJ2012(std::string(t[i])));
            // A header stands before what it heads: alone, it is a code that lost its letter
            // ("420", "0420").
            const bool header = i == 0 && t.size() > 1 && reply::isIdentifier(t[i]);
            if (!code && !header && !reply::isByte(t[i])) return false;
        }
    }
    return true;
}

std::vector<std::string> QZEnhancedScanner::cleanResponseString(std::string_view reply) {
    std::vector<std::string> tokens;
    size_t i = 0;
    while (i < reply.size()) {
        while (i < reply.size() && std::isspace(static_cast<unsigned char>(reply[i]))) ++i;
        size_t start = i;
        while (i < reply.size() && !std::isspace(static_cast<unsigned char>(reply[i]))) ++i;
        if (i > start && reply.substr(start, i - start) != ">")
            tokens.emplace_back(reply.substr(start, i - start));
    }
    return tokens;
}

QZEModuleDataPtr QZEnhancedScanner::basicCodeResponseToQZEModuleDataWithString(
    const std::string& reply, const std::string& type) {
    Texts codes;
    std::unordered_set<std::string> seen;
    for (auto& token : cleanResponseString(reply))
        if (auto code = listedCode(token); code && seen.insert(*code).second)
            codes.push_back(std::move(*code));

    auto module = std::make_shared<QZEModuleData>();
    module->setDescription(useSeperateEmissionsModules() ? type : std::string("Emissions"));
    module->setAccronym(std::string("OBD"));
    module->setBusType(std::to_string(QZEData::sharedData().obd2Protocol()));
    const int64_t make = QZEVehicle::TheVehicle().vehicleDataManufacturer();
    Texts definitions, statuses;
    for (const auto& code : codes) {
        definitions.push_back(QZETroubleCodes::TheCodes().troubleCodeDef(code, make));
        statuses.push_back(type);
    }
    module->setCodeList(std::move(codes));
    module->setDefinitionList(std::move(definitions));
    module->setStatusList(std::move(statuses));
    module->setResponseState(ResponseStateHasData);
    populateCodeDefs(*module);
    return module;
}

void QZEnhancedScanner::addCode(const std::string& code, const std::string& status,
                                const std::optional<std::string>& description,
                                QZEModuleData& module) {
    const std::string newStatus = upper(status);
    Texts codes = module.codeList().value_or(Texts{});
    Texts statuses = module.statusList().value_or(Texts{});
    Texts definitions = module.definitionList().value_or(Texts{});
    for (auto& s : statuses) s = upper(s);

    auto at = std::find(codes.begin(), codes.end(), code);
    if (at == codes.end()) {
        // Shorter lists are padded first, so the new status and text stay beside their code.
        if (statuses.size() < codes.size()) statuses.resize(codes.size());
        if (description && definitions.size() < codes.size()) definitions.resize(codes.size());
        codes.push_back(code);
        statuses.push_back(newStatus);
        if (description) definitions.push_back(*description);
    } else if (!newStatus.empty()) {
        const size_t i = static_cast<size_t>(at - codes.begin());
        if (statuses.size() <= i) statuses.resize(i + 1);
        std::string& merged = statuses[i];
        for (const auto& word : split(newStatus, '/')) {
            if (contains(merged, word)) continue;
            merged = merged.empty() ? word : merged + "/" + word;
        }
    }
    module.setCodeList(std::move(codes));
    module.setStatusList(std::move(statuses));
    module.setDefinitionList(std::move(definitions));
}

void QZEnhancedScanner::populateCodeDefs(QZEModuleData& module) {
    const Texts codes = module.codeList().value_or(Texts{});
    if (codes.empty()) return;
    Texts definitions = module.definitionList().value_or(Texts{});
    Texts statuses = module.statusList().value_or(Texts{});
    auto& data = QZEData::sharedData();
    const int64_t make = data.activeProtocol();
    const bool bmw = make == static_cast<int64_t>(EnhancedProtocolManufacturer::BMW);
    const bool variants = !module.extra("MBVARIANTS").isNull();
    std::optional<std::string> vin;
    if (bmw) vin = data.activeVin();

    for (size_t i = 0; i < codes.size(); ++i) {
        if (definitions.size() <= i) definitions.resize(i + 1);
        if (statuses.size() <= i) statuses.resize(i + 1);
        if (!statuses[i].empty() && statuses[i].back() == '/') statuses[i].pop_back();

        const std::string& current = definitions[i];
        if (!current.empty() && current != "Reserved" && !contains(lower(current), "check report"))
            continue;
        std::string text;
        if (bmw)
            text = QZETroubleCodes::TheCodes().bmwTroubleCodeDef(codes[i], module.accronym(), vin);
        else if (variants)
            continue;
        else
            text = QZETroubleCodes::TheCodes().troubleCodeDef(codes[i], make);
        if (!QZEnhancedUtils::isJ2012(codes[i]) && contains(lower(text), "check report")) continue;
        definitions[i] = std::move(text);
    }
    module.setDefinitionList(std::move(definitions));
    module.setStatusList(std::move(statuses));
}

void QZEnhancedScanner::startBasicObdScan(bool includePermanent) {
    const bool separate = useSeperateEmissionsModules();
    // Without a vehicle bus (the sensor answered its bus query with 0: no vehicle, or its
    // ignition off), "NO DATA" tells nothing of codes: the modules wait until a code is read.
    const bool noBus = m_scanner && m_scanner->originalBus() == 0;
    QZEModuleArray built;
    bool failed = false;
    auto read = [&](std::string_view suffix, const char* logLine, const char* type, bool wanted) {
        // Once the link is gone nothing more is sent: what was not read is not known.
        if (linkGone()) {
            failed = true;
            return;
        }
        const std::string command = QZEBaseDiagnosticModule::setupCommand(suffix);
        const QZECommandReply answer = QZEVehicle::TheVehicle().sendCommand(command);
        // No adapter answers nothing at all.
        const OptionalText reply =
            answer.text.empty() && !answer.cutShort ? OptionalText() : OptionalText(answer.text);
        QZELogging::shared().logInfo(logLine, reply);
        if (!wanted) return;
        const bool list =
            !answer.cutShort && isCodeListAnswer(reply, QZEVehicle::TheVehicle().displayForm());
        if (!list && linkGone()) {
            // The link went while the request was out: its end is what happened, not the
            // request's.
            failed = true;
        } else if (answer.cutShort) {
            // The list stopped before its end: the codes of its whole lines are kept. Nothing of
            // it may have come (the main queue held it).
            const auto came = reply::tokens(reply::withoutEcho(answer.text, command));
            if (came.empty())
                QZELogging::shared().logError("Generic code read stopped before its end: %@",
                                              command);
            else
                QZELogging::shared().logError(
                    "Generic code read stopped before its end: %@ after %@", command,
                    reply::joinedTokens(came));
            failed = true;
        } else if (!list) {
            // The request failed, or it was refused, not understood or damaged: nothing is known
            // of these codes but the whole ones it held.
            QZELogging::shared().logError("Generic code read failed: %@ answered %@", command,
                                          reply);
            failed = true;
        }
        auto module = basicCodeResponseToQZEModuleDataWithString(
            list ? *reply : wholeLines(answer.text, answer.cutShort), type);
        if (!list && module->codeList().value_or(Texts{}).empty()) return;
        module->setLight(std::string(kEngine));
        module->setCategory(std::string(kEngine));
        built.push_back(module);
        if (separate && !noBus) deliver(module);
    };
    read("TC", "Confirmed Codes Result: %@", "Confirmed", true);
    read("TCP", "Pending Codes Result: %@", "Pending", true);
    read("TCA", "Perm Codes Result: %@", "Permanent", includePermanent);
    if (noBus && std::all_of(built.begin(), built.end(), [](const QZEModuleDataPtr& m) {
            return m->codeList().value_or(Texts{}).empty();
        })) {
        QZELogging::shared().logError(
            "No vehicle bus named by the sensor and no code read: the vehicle did not answer");
        noteOutcome(QZEReadOutcome::incomplete);
        return;
    }
    // A read that failed ends the scan in a communication error: the codes read are still
    // reported, but never a list made empty by what could not be read.
    if (failed) noteOutcome(QZEReadOutcome::incomplete);
    if (separate && noBus)
        for (const auto& module : built) deliver(module);
    if (separate || built.empty()) return;

    QZEModuleData& combined = *built.front();
    struct Entry {
        std::string code, status;
        std::optional<std::string> definition;
    };
    std::vector<Entry> entries;
    for (const auto& module : built) {
        const Texts codes = module->codeList().value_or(Texts{});
        const Texts statuses = module->statusList().value_or(Texts{});
        const Texts definitions = module->definitionList().value_or(Texts{});
        for (size_t i = 0; i < codes.size(); ++i)
            entries.push_back(
                {codes[i], i < statuses.size() ? statuses[i] : std::string(),
                 i < definitions.size() ? std::optional(definitions[i]) : std::nullopt});
    }
    for (const auto& e : entries) addCode(e.code, e.status, e.definition, combined);
    if (failed && combined.codeList().value_or(Texts{}).empty()) return;
    deliver(built.front());
}

}  // namespace qz
