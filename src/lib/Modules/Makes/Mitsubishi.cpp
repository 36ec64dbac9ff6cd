#include "lib/Modules/Makes/Mitsubishi.hpp"

#include <algorithm>

#include "lib/Decoders/QZEBitEncodedAddress.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

namespace {

constexpr int64_t kMitsubishi = static_cast<int64_t>(EnhancedProtocolManufacturer::Mitsubishi);

// One line speed to try and the unit reached at it.
struct LineSpeed {
    std::string baud;  // none: as it is
    std::shared_ptr<QZEBitEncodedAddress> table;
    QZEModuleData unit;
};

// The line speeds to try: the folded module's list, or the module's own. A folded rate holds
// its unit's table, address, erase request and J2012 codes; an older list holds the table
// alone (the unit then is the folded module).
std::vector<LineSpeed> lineSpeeds(const QZEModuleData& module) {
    std::vector<LineSpeed> out;
    if (auto rates = module.extra("baud_rates").dictionary()) {
        for (const auto& [baud, rate] : *rates) {
            LineSpeed speed{baud, rate.object<QZEBitEncodedAddress>(), module};
            if (auto unit = rate.dictionary()) {
                auto value = [&](const char* key) {
                    auto it = unit->find(key);
                    return it == unit->end() ? QZEValue() : it->second;
                };
                speed.table = value("dtcBitEncodedDitct").object<QZEBitEncodedAddress>();
                if (auto id = value("Request_ID").text()) {
                    speed.unit.setRequestId(*id);
                    speed.unit.setResponseId(*id);
                }
                for (const char* key : {"Clear_ID", "dtcJ2012EncodedDict"})
                    if (!value(key).isNull()) speed.unit.setExtra(key, value(key));
            }
            out.push_back(std::move(speed));
        }
        return out;
    }
    out.push_back({module.extra("baud_hex").text().value_or(""),
                   module.extra("dtcBitEncodedDitct").object<QZEBitEncodedAddress>(), module});
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
    if (!baud.empty() && !setUpForRead(setupCommand("IF") + baud)) return false;
    return addressModule(module, protocolFor(module));
}

bool QZEMitsubishiKlineDiagnosticModule::scanCodes(QZEModuleData& module) {
    const bool firstOnly = module.extraFlag("first");
    const auto row = protocolFor(module);
    return read(module, row, [&] {
        return onModuleBus(module, [&] {
            bool ok = false;
            for (const auto& [baud, table, unit] : lineSpeeds(module)) {
                if (!selectLineSpeed(baud, unit)) continue;
                const bool answered =
                    table ? readBitTable(unit, *table, QZEModuleProtocols::mitsubishiBitTable)
                          : readAddressed(unit, row);
                ok = ok || answered;
                if (answered && firstOnly) break;
            }
            return ok;
        });
    });
}

bool QZEMitsubishiKlineDiagnosticModule::clearCodes(QZEModuleData& module) {
    const auto row = protocolFor(module);
    return onModuleBus(module, [&] {
        for (const auto& [baud, table, unit] : lineSpeeds(module)) {
            if (!selectLineSpeed(baud, unit)) continue;
            const auto clearId = unit.extra("Clear_ID").text();
            if (!clearId) {
                if (clearAddressed(unit, row)) return true;
                continue;
            }
            // The MUT erase is answered with a byte of its own, not a service answer.
            QZEAsked asked = askedFor(unit, row, *clearId, QZEAsked::kAnyByte);
            if (exchange(*clearId, row.retry, asked).answered()) return true;
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
