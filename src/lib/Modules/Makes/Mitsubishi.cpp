#include "lib/Modules/Makes/Mitsubishi.hpp"

#include "lib/Logging/QZELogging.hpp"
#include "lib/Modules/QZENaks.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

namespace {

constexpr int64_t kMitsubishi = static_cast<int64_t>(EnhancedProtocolManufacturer::Mitsubishi);

constexpr QZEKLineMethod kKwp{"KWP2000", "", "81", "18 00 FF 00", "14 FF 00"};
constexpr QZECanMethod kKwpOnCan{QZECanMethod::Layout::kwp2000, "18 00 FF 00", "14 FF 00", false};
constexpr const char* kReadByte = "21 ";

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
    : QZEMakeModule(kMitsubishi) {}

bool QZEMitsubishiKlineDiagnosticModule::selectLineSpeed(const std::string& baud,
                                                         const QZEModuleData& module) {
    if (!baud.empty() && !sendSetupCommandToOstrel(setupCommand("IF") + baud)) return false;
    auto target = address(module.requestId());
    return target && selectKLineModule(kKwp.format, *target);
}

bool QZEMitsubishiKlineDiagnosticModule::scanCodes(QZEModuleData& module) {
    prepareKLine(module, false);
    const bool firstOnly = module.extraFlag("first");
    bool ok = false;
    for (const auto& [baud, table] : lineSpeeds(module)) {
        if (!selectLineSpeed(baud, module)) continue;
        const bool answered = table ? readBitTable(*table, module) : readKLineCodes(kKwp.read);
        ok = ok || answered;
        if (answered && firstOnly) break;
    }
    if (ok) notePins(module);
    finishDefinitions(module);
    return ok;
}

bool QZEMitsubishiKlineDiagnosticModule::readBitTable(const QZEBitEncodedAddress& table,
                                                      const QZEModuleData& module) {
    const auto j2012 = module.extra("dtcJ2012EncodedDict").dictionary();
    bool answered = false;
    for (uint64_t byte : table.addresses()) {
        const std::string cmd = kReadByte + hexByte(static_cast<int>(byte));
        auto message = kLineRequest(cmd);
        // 61 <byte> <fault bits>
        if (!message || message->size() < 3) continue;
        answered = true;
        const int bits = reply::byteValue((*message)[2]);
        for (uint64_t bit = 0; bit < 8; ++bit) {
            if (!(bits & (1 << bit))) continue;
            auto info = table.infoForBit(bit, byte);
            if (!info || (*info)[0].empty()) {
                QZELogging::shared().logVerbose("Undefined fault bit %@ of byte %@", bit,
                                                hexByte(static_cast<int>(byte)));
                continue;
            }
            std::string code = (*info)[0];
            if (j2012)
                if (auto it = j2012->find(code); it != j2012->end() && it->second.text())
                    code = *it->second.text();
            addDescribedCode(code, info->size() > 2 ? (*info)[2] : "", (*info)[1]);
        }
    }
    return answered;
}

bool QZEMitsubishiKlineDiagnosticModule::clearCodes(QZEModuleData& module) {
    prepareKLine(module, false);
    const auto clearId = module.extra("Clear_ID").text();
    for (const auto& [baud, table] : lineSpeeds(module)) {
        if (!selectLineSpeed(baud, module)) continue;
        if (!clearId) {
            if (clearKLine(kKwp.clear)) return true;
            continue;
        }
        // The MUT erase request is answered with a byte of its own, not a service answer.
        const std::string reply = request(*clearId, Retry::nrcKline);
        if (reply.find("NO DATA") == std::string::npos && !reply::tokens(reply).empty() &&
            !QZENaks::isNAK(reply))
            return true;
    }
    return false;
}

QZEMitsubishiCANDiagnosticModule::QZEMitsubishiCANDiagnosticModule() : QZEMakeModule(kMitsubishi) {}

bool QZEMitsubishiCANDiagnosticModule::scanCodes(QZEModuleData& module) {
    if (!selectCanModule(module)) return false;
    const bool ok = readCanCodes(kKwpOnCan);
    finishDefinitions(module);
    return ok;
}

bool QZEMitsubishiCANDiagnosticModule::clearCodes(QZEModuleData& module) {
    return selectCanModule(module) && clearCan(kKwpOnCan);
}

}  // namespace qz
