#include "lib/Modules/Makes/Mitsubishi.hpp"

#include <algorithm>
#include <cctype>

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

// The MUT erase request is answered with a byte of its own, not a service answer: any message
// of bytes that is no refusal. The sensor's own words ("BUS INIT: ...ERROR", "?") are none.
bool erased(const std::string& reply, QZEKLineHeaders headers) {
    if (QZENaks::isNAK(reply)) return false;
    for (const auto& message : QZEMakeModule::kLineMessages(reply, headers))
        if (!message.empty() && std::all_of(message.begin(), message.end(), [](const auto& t) {
                return t.size() == 2 && std::isxdigit(static_cast<unsigned char>(t[0])) &&
                       std::isxdigit(static_cast<unsigned char>(t[1]));
            }))
            return true;
    return false;
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
            if (erased(request(*clearId, row.retry), traits().kLineHeaders)) return true;
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
