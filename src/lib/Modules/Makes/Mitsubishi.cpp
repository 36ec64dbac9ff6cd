#include "lib/Modules/Makes/Mitsubishi.hpp"

#include "lib/Decoders/QZEBitEncodedAddress.hpp"
#include "lib/Modules/QZENaks.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

namespace {

constexpr int64_t kMitsubishi = static_cast<int64_t>(EnhancedProtocolManufacturer::Mitsubishi);

// The line speeds to try: the folded module's list, or the module's own (none: as it is).
std::vector<std::pair<std::string, std::shared_ptr<QZEBitEncodedAddress>>> lineSpeeds(
    const QZEModuleData& module) {
    std::vector<std::pair<std::string, std::shared_ptr<QZEBitEncodedAddress>>> out;
    if (auto rates = module.extra("baud_rates").dictionary()) {
        for (const auto& [baud, table] : *rates)
            out.emplace_back(baud, table.object<QZEBitEncodedAddress>());
        return out;
    }
    out.emplace_back(module.extra("baud_hex").text().value_or(""),
                     module.extra("dtcBitEncodedDitct").object<QZEBitEncodedAddress>());
    return out;
}

}  // namespace

QZEMitsubishiKlineDiagnosticModule::QZEMitsubishiKlineDiagnosticModule()
    : QZEMakeModule(kMitsubishi, QZEModuleTraits::kLine) {}

QZEModuleProtocol QZEMitsubishiKlineDiagnosticModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::kwpKLine;
}

bool QZEMitsubishiKlineDiagnosticModule::selectLineSpeed(const std::string& baud,
                                                         const QZEModuleData& module) {
    if (!baud.empty() && !sendSetupCommandToOstrel(setupCommand("IF") + baud)) return false;
    return addressModule(module, protocolFor(module));
}

bool QZEMitsubishiKlineDiagnosticModule::scanCodes(QZEModuleData& module) {
    const bool firstOnly = module.extraFlag("first");
    const auto row = protocolFor(module);
    return read(module, row, [&] {
        return onModuleBus(module, [&] {
            bool ok = false;
            for (const auto& [baud, table] : lineSpeeds(module)) {
                if (!selectLineSpeed(baud, module)) continue;
                const bool answered =
                    table ? readBitTable(module, *table, QZEModuleProtocols::mitsubishiBitTable)
                          : readAddressed(module, row);
                ok = ok || answered;
                if (answered && firstOnly) break;
            }
            return ok;
        });
    });
}

bool QZEMitsubishiKlineDiagnosticModule::clearCodes(QZEModuleData& module) {
    const auto clearId = module.extra("Clear_ID").text();
    const auto row = protocolFor(module);
    return onModuleBus(module, [&] {
        for (const auto& [baud, table] : lineSpeeds(module)) {
            if (!selectLineSpeed(baud, module)) continue;
            if (!clearId) {
                if (clearAddressed(module, row)) return true;
                continue;
            }
            // The MUT erase request is answered with a byte of its own, not a service answer.
            const std::string reply = request(*clearId, row.retry);
            if (reply.find("NO DATA") == std::string::npos && !reply::tokens(reply).empty() &&
                !QZENaks::isNAK(reply))
                return true;
        }
        return false;
    });
}

QZEMitsubishiCANDiagnosticModule::QZEMitsubishiCANDiagnosticModule()
    : QZEMakeModule(kMitsubishi, QZEModuleTraits::can) {}

QZEModuleProtocol QZEMitsubishiCANDiagnosticModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::kwpCan;
}

}  // namespace qz
