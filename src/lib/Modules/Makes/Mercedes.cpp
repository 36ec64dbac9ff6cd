#include "lib/Modules/Makes/Mercedes.hpp"

#include "lib/Definitions/QZEMercedesJsonParser.hpp"
#include "lib/Facades/QZEData.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

namespace {

constexpr int64_t kMercedes = static_cast<int64_t>(EnhancedProtocolManufacturer::Mercedes);

// K-line methods: KWP2000 with fast initialisation, and the slow initialisation of "KWFB" units.
constexpr QZEKLineMethod kKwp2000{"KW2000", "5", "81", "18 02 FF FF", "14 FF FF"};
constexpr QZEKLineMethod kKwfb{"KWFB", "4", "81", "18 02 FF 00", "14 FF 00"};
// MB-ISO: requests from the module's definition, these when it gives none.
constexpr QZEKLineMethod kMbIso{"MBISO", "", "81", "18 02 FF 00", "14 FF 00"};
// CAN: UDS and KWP2000 on CAN; the identification runs with headers shown, around the read.
constexpr QZECanMethod kUds{QZECanMethod::Layout::uds, "19 02 FF", "14 FF FF FF", false};
constexpr QZECanMethod kKwpOnCan{QZECanMethod::Layout::kwp2000, "18 02 FF 00", "14 FF 00", false};
constexpr const char* kUdsIdentification = "22F100";
constexpr const char* kKwpIdentification = "1A87";

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// The unit's own K-line method by its "PROTOCOL", then the other one.
std::vector<const QZEKLineMethod*> kLineMethods(const QZEModuleData& module) {
    const bool kwfb = contains(module.extra("PROTOCOL").text().value_or(""), "KWFB");
    if (kwfb) return {&kKwfb, &kKwp2000};
    return {&kKwp2000, &kKwfb};
}

const QZEKLineMethod* methodNamed(const std::optional<std::string>& name) {
    if (!name) return nullptr;
    for (const auto* method : {&kKwp2000, &kKwfb})
        if (*name == method->name) return method;
    return nullptr;
}

// A Mercedes identifier as the sensor takes it ("$07E0", "$7E0" and decimal "2016" are 7E0).
std::optional<std::string> mercedesId(const std::optional<std::string>& id) {
    if (!id || id->empty()) return std::nullopt;
    return QZEMercedesJsonParser::convertRequestIdToStandardHex(*id);
}

}  // namespace

// --- MB-ISO ---

QZEMercedesMBISODiagModule::QZEMercedesMBISODiagModule() : QZEMakeModule(kMercedes) {}

bool QZEMercedesMBISODiagModule::scanCodes(QZEModuleData& module) {
    prepareKLine(module, takeDelayTransmission());
    const std::string read = module.extra("readoutCmd").text().value_or(kMbIso.read);
    const QZEKLineMethod method{kMbIso.name, "", kMbIso.format, read.c_str(), kMbIso.clear};
    const bool ok = readKLine(module, method);
    if (ok) notePins(module);
    finishDefinitions(module);
    return ok;
}

bool QZEMercedesMBISODiagModule::clearCodes(QZEModuleData& module) {
    prepareKLine(module, takeDelayTransmission());
    const std::string clear = module.extra("Clear_ID").text().value_or(kMbIso.clear);
    const QZEKLineMethod method{kMbIso.name, "", kMbIso.format, kMbIso.read, clear.c_str()};
    return clearKLine(module, method);
}

// --- K-line ---

QZEMercedesKlineDiagnosticModule::QZEMercedesKlineDiagnosticModule() : QZEMakeModule(kMercedes) {}

bool QZEMercedesKlineDiagnosticModule::scanCodes(QZEModuleData& module) {
    prepareKLine(module, takeDelayTransmission());
    auto methods = kLineMethods(module);
    if (!m_performAllMethodScan) methods.resize(1);
    bool ok = false;
    for (const auto* method : methods) {
        ok = readKLine(module, *method);
        if (ok) {
            module.setExtra("READTYPE", method->name);
            notePins(module);
            break;
        }
    }
    finishDefinitions(module);
    return ok;
}

bool QZEMercedesKlineDiagnosticModule::clearCodes(QZEModuleData& module) {
    prepareKLine(module, takeDelayTransmission());
    const auto* method = methodNamed(module.extra("READTYPE").text());
    return clearKLine(module, method ? *method : *kLineMethods(module).front());
}

std::vector<int64_t> QZEMercedesKlineDiagnosticModule::getHighPINs() {
    return {13, 12, 11, 9, 7};
}

// --- CAN ---

QZEMercedesCANDiagnosticModule::QZEMercedesCANDiagnosticModule() : QZEMakeModule(kMercedes) {}

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

bool QZEMercedesCANDiagnosticModule::scanCodes(QZEModuleData& module) {
    const std::string protocol = module.extra("PROTOCOL").text().value_or("");
    if (protocol != "UDS_CAN" && protocol != "KWP_CAN") return readKLineUnit(module, false);
    const bool uds = protocol == "UDS_CAN";
    auto requestId = mercedesId(module.requestId());
    if (!requestId || !sendSetupCommandToOstrel(setupCommand("SH") + *requestId)) return false;
    if (auto responseId = mercedesId(module.responseId()))
        sendSetupCommandToOstrel(setupCommand("CF") + *responseId);

    ShownHeaders shown(*this, true);
    const char* identify = uds ? kUdsIdentification : kKwpIdentification;
    const std::string reply = canRequest(identify);
    if (contains(reply, "NO DATA") || reply::tokens(reply).empty()) return false;
    auto identification = decodeEcuIdentificationWithRequest(identify, reply);
    const QZEModuleData* variant = variantFor(variantsOf(module), identification);
    QZELogging::shared().logInfo("Mercedes unit %@ identified as %@, variant %@", module.accronym(),
                                 identification, variant->accronym());
    const bool ok = readCanCodes(uds ? kUds : kKwpOnCan);
    // The scan leaves the texts of a unit with variants as they are.
    finishDefinitions(*variant, true);
    return ok;
}

bool QZEMercedesCANDiagnosticModule::clearCodes(QZEModuleData& module) {
    const std::string protocol = module.extra("PROTOCOL").text().value_or("");
    if (protocol != "UDS_CAN" && protocol != "KWP_CAN") return readKLineUnit(module, true);
    auto requestId = mercedesId(module.requestId());
    if (!requestId || !sendSetupCommandToOstrel(setupCommand("SH") + *requestId)) return false;
    if (auto responseId = mercedesId(module.responseId()))
        sendSetupCommandToOstrel(setupCommand("CF") + *responseId);
    ShownHeaders shown(*this, true);
    return clearCan(protocol == "UDS_CAN" ? kUds : kKwpOnCan);
}

bool QZEMercedesCANDiagnosticModule::readKLineUnit(QZEModuleData& module, bool clear) {
    // The K-line protocol selects the K-line pins; the CAN protocol of the vehicle brings the
    // CAN pins back afterwards.
    QZEKLineMethod method = *kLineMethods(module).front();
    setProtocolIfNeeded(std::string(method.protocol));
    method.protocol = "";
    const bool ok = clear ? clearKLine(module, method) : readKLine(module, method);
    const int64_t bus = QZEData::sharedData().obd2Protocol();
    if (bus >= 1 && bus <= 9) setProtocolIfNeeded(std::to_string(bus));
    if (!clear) finishDefinitions(module);
    return ok;
}

}  // namespace qz
