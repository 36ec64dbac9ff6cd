#include "lib/Modules/Makes/Mercedes.hpp"

#include <algorithm>

#include "lib/Definitions/QZEMercedesJsonParser.hpp"
#include "lib/Facades/QZEData.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

namespace {

constexpr int64_t kMercedes = static_cast<int64_t>(EnhancedProtocolManufacturer::Mercedes);

// K-line methods: KWP2000 with fast initialisation, and the slow initialisation of "KWFB" units,
// by the names "READTYPE" keeps.
struct Method {
    const char* name;
    const QZEModuleProtocol& row;
};
const Method kKwp2000{"KW2000", QZEModuleProtocols::mercedesKwp2000};
const Method kKwfb{"KWFB", QZEModuleProtocols::mercedesKwfb};
// CAN: the identification runs with headers shown, around the read; one that could not be read
// is asked for again, as often as a code read is.
constexpr const char* kUdsIdentification = "22F100";
constexpr const char* kKwpIdentification = "1A87";
constexpr int kIdentificationReads = 3;

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// The unit's own K-line method by its "PROTOCOL", then the other one.
std::vector<const Method*> kLineMethods(const QZEModuleData& module) {
    const bool kwfb = contains(module.extra("PROTOCOL").text().value_or(""), "KWFB");
    if (kwfb) return {&kKwfb, &kKwp2000};
    return {&kKwp2000, &kKwfb};
}

const Method* methodNamed(const std::optional<std::string>& name) {
    if (!name) return nullptr;
    for (const auto* method : {&kKwp2000, &kKwfb})
        if (*name == method->name) return method;
    return nullptr;
}

bool isCanUnit(const QZEModuleData& module) {
    const std::string protocol = module.extra("PROTOCOL").text().value_or("");
    return protocol == "UDS_CAN" || protocol == "KWP_CAN";
}

// A Mercedes identifier as the sensor takes it ("$07E0", "$7E0" and decimal "2016" are 7E0).
std::optional<std::string> mercedesId(const std::optional<std::string>& id) {
    if (!id || id->empty()) return std::nullopt;
    return QZEMercedesJsonParser::convertRequestIdToStandardHex(*id);
}

}  // namespace

// --- MB-ISO ---

QZEMercedesMBISODiagModule::QZEMercedesMBISODiagModule()
    : QZEMakeModule(kMercedes, QZEModuleTraits::kLine) {}

QZEModuleProtocol QZEMercedesMBISODiagModule::protocolFor(const QZEModuleData& module) const {
    QZEModuleProtocol row = QZEModuleProtocols::mercedesMbIso;
    if (auto read = module.extra("readoutCmd").text()) row.read = *read;
    if (auto clear = module.extra("Clear_ID").text()) row.clear = *clear;
    return row;
}

// --- K-line ---

QZEMercedesKlineDiagnosticModule::QZEMercedesKlineDiagnosticModule()
    : QZEMakeModule(kMercedes, QZEModuleTraits::kLine) {}

QZEModuleProtocol QZEMercedesKlineDiagnosticModule::protocolFor(const QZEModuleData& module) const {
    const auto* method = methodNamed(module.extra("READTYPE").text());
    return (method ? method : kLineMethods(module).front())->row;
}

bool QZEMercedesKlineDiagnosticModule::scanCodes(QZEModuleData& module) {
    auto methods = kLineMethods(module);
    if (!m_performAllMethodScan) methods.resize(1);
    const Method* answered = nullptr;
    const bool ok = read(module, methods.front()->row, [&] {
        return onModuleBus(module, [&] {
            // A method that reads the unit whole ends the read; one that fails (a refusal, an
            // answer cut short) leaves the next method to try. When none reads it whole, the
            // codes every method found stand, and the worst outcome.
            const QZEReadOutcome before = readOutcome();
            QZEReadOutcome worst = before;
            const Results none = results();
            Results found = none;
            bool any = false;
            for (const auto* method : methods) {
                setReadOutcome(before);
                restoreResults(none);
                const bool read =
                    addressModule(module, method->row) && readAddressed(module, method->row);
                if (read && readOutcome() == before) {
                    answered = method;
                    return true;
                }
                worst = worseOutcome(worst, readOutcome());
                if (read) {
                    answered = method;
                    any = true;
                }
                for (size_t i = 0; i < m_codeArray.size(); ++i)
                    if (std::find(found.codes.begin(), found.codes.end(), m_codeArray[i]) ==
                        found.codes.end()) {
                        found.codes.push_back(m_codeArray[i]);
                        found.statuses.push_back(i < m_statusArray.size() ? m_statusArray[i] : "");
                        found.definitions.push_back(
                            i < m_definitionArray.size() ? m_definitionArray[i] : "");
                    }
            }
            setReadOutcome(worst);
            restoreResults(std::move(found));
            return any;
        });
    });
    if (answered) module.setExtra("READTYPE", answered->name);
    return ok;
}

std::vector<int64_t> QZEMercedesKlineDiagnosticModule::getHighPINs() {
    return {13, 12, 11, 9, 7};
}

// --- CAN ---

QZEMercedesCANDiagnosticModule::QZEMercedesCANDiagnosticModule()
    : QZEMakeModule(kMercedes, QZEModuleTraits::can) {}

std::vector<const QZEModuleData*> QZEMercedesCANDiagnosticModule::variantsOf(
    const QZEModuleData& module) {
    std::vector<const QZEModuleData*> out;
    if (auto list = module.extra("MBVARIANTS").list())
        for (const auto& value : *list)
            if (auto variant = value.object<QZEModuleData>()) out.push_back(variant.get());
    if (out.empty()) out.push_back(&module);
    return out;
}

const QZEModuleData* QZEMercedesCANDiagnosticModule::variantFor(
    const std::vector<const QZEModuleData*>& variants,
    const std::optional<std::string>& identification) {
    if (variants.empty()) return nullptr;
    if (identification && !identification->empty()) {
        for (const auto* variant : variants) {
            const std::string keys = variant->extra("MBDIAGKEYS").text().value_or("");
            size_t start = 0;
            while (start < keys.size()) {
                size_t end = std::min(keys.find(',', start), keys.size());
                const std::string key = keys.substr(start, end - start);
                if (!key.empty() && contains(*identification, key)) return variant;
                start = end + 1;
            }
        }
    }
    return variants.front();
}

QZEModuleProtocol QZEMercedesCANDiagnosticModule::protocolFor(const QZEModuleData& module) const {
    const std::string protocol = module.extra("PROTOCOL").text().value_or("");
    if (protocol == "UDS_CAN") return QZEModuleProtocols::udsCan;
    if (protocol == "KWP_CAN") return QZEModuleProtocols::mercedesKwpCan;
    return kLineMethods(module).front()->row;
}

std::optional<std::string> QZEMercedesCANDiagnosticModule::answersFrom(
    const QZEModuleData& module) const {
    return mercedesId(module.responseId());
}

bool QZEMercedesCANDiagnosticModule::addressCanUnit(const QZEModuleData& module) {
    auto requestId = mercedesId(module.requestId());
    if (!requestId || !setUpForRead(setupCommand("SH") + *requestId)) return false;
    if (auto responseId = mercedesId(module.responseId()))
        return setUpForRead(setupCommand("CF") + *responseId);
    return true;
}

bool QZEMercedesCANDiagnosticModule::scanCodes(QZEModuleData& module) {
    if (!isCanUnit(module)) return readKLineUnit(module, false);
    if (!addressCanUnit(module)) return false;
    const auto row = protocolFor(module);
    ShownHeaders shown(*this, true);
    if (!shown.accepted()) return false;
    const char* identify =
        row.layout == QZEReplyLayout::uds ? kUdsIdentification : kKwpIdentification;
    QZEModuleReply reply;
    {
        // The identification tells nothing of how the unit answers the code request.
        UnratedReplies unrated(*this);
        const QZEAsked asked = askedFor(module, row, identify);
        reply = exchange(identify, row.retry, asked);
        for (int read = 1; read < kIdentificationReads && reply.readAgain(); ++read)
            reply = exchange(identify, row.retry, asked);
    }
    // Nothing of the unit. Bytes of it that could not be read are something: its code read
    // tells the rest, with the texts of its first variant.
    if (reply.kind == QZEReplyKind::silence || reply.kind == QZEReplyKind::sensorWord) return false;
    const auto identification = ecuIdentification(identify, reply);
    const QZEModuleData* variant = variantFor(variantsOf(module), identification);
    if (identification) {
        QZELogging::shared().logInfo("Mercedes unit %@ identified as %@, variant %@",
                                     module.accronym(), identification, variant->accronym());
    } else {
        QZELogging::shared().logWarning(
            "Mercedes unit %@ not identified (its answer: %@), the texts of variant %@",
            module.accronym(), replyKindName(reply.kind), variant->accronym());
        // It answered and could not be read (a refusal tells it has none to give): its codes
        // are read, the read is not whole.
        if (reply.unreadable()) noteOutcome(QZEReadOutcome::incomplete);
    }
    const bool ok = readAddressed(module, row);
    // The scan leaves the texts of a unit with variants as they are.
    finishCodes(*variant, row.status, true);
    return ok;
}

bool QZEMercedesCANDiagnosticModule::clearCodes(QZEModuleData& module) {
    if (!isCanUnit(module)) return readKLineUnit(module, true);
    if (!addressCanUnit(module)) return false;
    ShownHeaders shown(*this, true);
    return shown.accepted() && clearAddressed(module, protocolFor(module));
}

bool QZEMercedesCANDiagnosticModule::readKLineUnit(QZEModuleData& module, bool clear) {
    // The K-line protocol selects the K-line pins; the CAN protocol of the vehicle brings the
    // CAN pins back afterwards.
    QZEModuleProtocol row = protocolFor(module);
    const bool selected = setProtocolIfNeeded(row.protocol);
    if (!selected) noteOutcome(QZEReadOutcome::setupRefused);
    row.protocol.clear();
    const bool ok = selected && addressModule(module, row) &&
                    (clear ? clearAddressed(module, row) : readAddressed(module, row));
    const int64_t bus = QZEData::sharedData().obd2Protocol();
    if (bus >= 1 && bus <= 9 && !setProtocolIfNeeded(std::to_string(bus)))
        noteOutcome(QZEReadOutcome::setupRefused);
    if (!clear) finishCodes(module, row.status);
    return ok;
}

}  // namespace qz
