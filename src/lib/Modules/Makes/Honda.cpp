#include "lib/Modules/Makes/Honda.hpp"

#include <atomic>

#include "lib/Decoders/QZEBitEncodedAddress.hpp"
#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

namespace {

std::atomic<bool> s_diagh{false};

// Status of the faults of a table byte that gives none.
constexpr const char* kBitFaultStatus = "STORED";
// ReadDataByLocalIdentifier and its positive answer.
constexpr int kReadByte = 0x21;

}  // namespace

QZEHondaKlineDiagnosticModule::QZEHondaKlineDiagnosticModule()
    : QZEProtocolModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Honda)) {}

void QZEHondaKlineDiagnosticModule::setDIAGH(bool value) {
    s_diagh = value;
}

bool QZEHondaKlineDiagnosticModule::DIAGH() {
    return s_diagh;
}

QZEModuleProtocol QZEHondaKlineDiagnosticModule::protocolFor(const QZEModuleData& module) const {
    QZEModuleProtocol row = QZEModuleProtocols::hondaKLine;
    if (auto clear = module.extra("Clear_ID").text(); clear && !clear->empty()) row.clear = *clear;
    return row;
}

bool QZEHondaKlineDiagnosticModule::scanCodes(QZEModuleData& module) {
    if (auto table = module.extra("dtcBitEncodedDitct").object<QZEBitEncodedAddress>())
        return readBitTable(module, *table);
    return QZEProtocolModule::scanCodes(module);
}

bool QZEHondaKlineDiagnosticModule::readBitTable(QZEModuleData& module,
                                                 const QZEBitEncodedAddress& table) {
    const auto row = protocolFor(module);
    const auto j2012 = module.extra("dtcJ2012EncodedDict").dictionary();
    beforeExchange();
    const bool ok = onModuleBus(module, [&] {
        address(module, row.addressing);
        bool answered = false;
        for (uint64_t byte : table.addresses()) {
            const std::string cmd = objcFormat("%02lX %02lX", kReadByte, byte);
            // "61 <byte> <faults>"
            for (const auto& message : kLineMessages(request(cmd, row.retry))) {
                if (message.size() < 3 || reply::byteValue(message[0]) != kReadByte + 0x40 ||
                    static_cast<uint64_t>(reply::byteValue(message[1])) != (byte & 0xFF))
                    continue;
                answered = true;
                const int faults = reply::byteValue(message[2]);
                for (uint64_t bit = 0; bit < 8; ++bit) {
                    if (!(faults & (1 << bit))) continue;
                    auto info = table.infoForBit(bit, byte);
                    if (!info || (*info)[0].empty()) {
                        QZELogging::shared().logVerbose("No fault for bit %@ of byte %@",
                                                        std::to_string(bit), std::to_string(byte));
                        continue;
                    }
                    std::string code = (*info)[0];
                    if (j2012)
                        if (auto it = j2012->find(code); it != j2012->end() && it->second.text())
                            code = *it->second.text();
                    std::string status = info->size() > 2 ? (*info)[2] : std::string();
                    addDescribedCode(code, status.empty() ? kBitFaultStatus : status, (*info)[1]);
                }
                break;
            }
        }
        return answered;
    });
    completeCodes(module, "");
    return ok;
}

QZEHondaCanDiagnosticModule::QZEHondaCanDiagnosticModule()
    : QZEProtocolModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Honda)) {}

QZEModuleProtocol QZEHondaCanDiagnosticModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::hondaCan;
}

}  // namespace qz
