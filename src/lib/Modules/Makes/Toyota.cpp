#include "lib/Modules/Makes/Toyota.hpp"

#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Facades/QZEData.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

namespace {
constexpr int64_t kToyota = static_cast<int64_t>(EnhancedProtocolManufacturer::Toyota);
}  // namespace

QZEToyotaKlineDiagnosticModule::QZEToyotaKlineDiagnosticModule()
    : QZEMakeModule(kToyota, QZEModuleTraits::restoring) {}

QZEModuleProtocol QZEToyotaKlineDiagnosticModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::toyotaKLine;
}

bool QZEToyotaKlineDiagnosticModule::scanCodes(QZEModuleData& module) {
    const bool ok = QZEMakeModule::scanCodes(module);
    mapTwoDigitCodes(module);
    return ok;
}

bool QZEToyotaKlineDiagnosticModule::needsKeyCycle(const OptionalText& vin) {
    return vin && vin->size() == 17 && vin->starts_with("JT");
}

QZECommandReply QZEToyotaKlineDiagnosticModule::sendCommandToOstrel(const std::string& cmd) {
    if (m_linkLost) return {};
    QZECommandReply reply = QZEBaseDiagnosticModule::sendCommandToOstrel(cmd);
    if (m_abort || cmd.starts_with("KQ") ||
        QZEModuleReply::classify(reply, askedOf(cmd)).kind != QZEReplyKind::pending ||
        !needsKeyCycle(QZEData::sharedData().activeVin()))
        return reply;
    m_abort = true;
    QZELogging::shared().logInfo("Asking for a key cycle after: %@", reply.text);
    postInteractionNotificaiton(kKeyCycleMessage);
    if (!waitForInteraction()) {
        QZELogging::shared().logWarning("Key cycle not confirmed, the link went away");
        m_linkLost = true;
    }
    return {};
}

void QZEToyotaKlineDiagnosticModule::mapTwoDigitCodes(const QZEModuleData& module) {
    const auto mapped = module.extra("dtcJ2012EncodedDict").dictionary();
    if (!mapped || m_codeArray.empty()) return;
    const auto texts = module.extra("dtcsDict").dictionary();
    std::vector<std::string> codes = m_codeArray;
    const std::vector<std::string> statuses = m_statusArray;
    std::vector<std::string> descriptions = m_definitionArray;
    descriptions.resize(codes.size());
    bool changed = false;
    for (size_t i = 0; i < codes.size(); ++i) {
        // "P00xx": the bytes 00 xx of a two-digit code.
        if (codes[i].size() != 5 || !codes[i].starts_with("P00")) continue;
        const std::string twoDigits = codes[i].substr(3);
        auto it = mapped->find(twoDigits);
        if (it == mapped->end() || !it->second.text()) continue;
        codes[i] = *it->second.text();
        descriptions[i].clear();
        if (texts)
            if (auto text = texts->find(twoDigits); text != texts->end())
                descriptions[i] = text->second.text().value_or("");
        changed = true;
    }
    if (changed) replaceCodes(codes, statuses, descriptions);
}

QZEToyotaCanDiagnosticModule::QZEToyotaCanDiagnosticModule()
    : QZEMakeModule(kToyota, QZEModuleTraits::restoring) {}

QZEModuleProtocol QZEToyotaCanDiagnosticModule::protocolFor(const QZEModuleData& module) const {
    if (module.extraFlag("isExtCAN")) return QZEModuleProtocols::toyotaExtendedCan;
    return QZEModuleProtocols::toyotaCan;
}

void QZEToyotaCanDiagnosticModule::addDTCWithAByte(uint32_t a, uint32_t b,
                                                   const std::string& status) {
    const std::string code =
        getJ2012CodeFromBytes(static_cast<int32_t>(a), static_cast<int32_t>(b));
    if (code == "P0000") return;
    addCode(code, status);
}

}  // namespace qz
