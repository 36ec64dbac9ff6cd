#include "lib/Modules/Makes/Nissan.hpp"

#include "lib/Logging/QZELogging.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

namespace {

constexpr int64_t kNissan = static_cast<int64_t>(EnhancedProtocolManufacturer::Nissan);

constexpr QZEKLineMethod kKwp{"KWP2000", "", "81", "18 00 FF 00", "14 FF 00"};
constexpr QZECanMethod kUds{QZECanMethod::Layout::uds, "19 02 FF", "14 FF FF FF", true};

}  // namespace

QZENissanKWPDiagnosticModule::QZENissanKWPDiagnosticModule() : QZEMakeModule(kNissan) {}

bool QZENissanKWPDiagnosticModule::scanCodes(QZEModuleData& module) {
    prepareKLine(module, false);
    const bool ok = readKLine(module, kKwp);
    if (ok) notePins(module);
    finishDefinitions(module);
    return ok;
}

bool QZENissanKWPDiagnosticModule::clearCodes(QZEModuleData& module) {
    prepareKLine(module, false);
    return clearKLine(module, kKwp);
}

QZNissanCanDiagnosticModule::QZNissanCanDiagnosticModule() : QZEMakeModule(kNissan) {}

bool QZNissanCanDiagnosticModule::scanCodes(QZEModuleData& module) {
    selectBus(module);
    if (!selectCanModule(module)) return false;
    const bool ok = readCanCodes(kUds);
    finishDefinitions(module);
    return ok;
}

bool QZNissanCanDiagnosticModule::clearCodes(QZEModuleData& module) {
    selectBus(module);
    return selectCanModule(module) && clearCan(kUds);
}

void QZNissanCanDiagnosticModule::addUdsCodeFromBytes(const std::vector<std::string>& bytes) {
    if (bytes.size() != 4) {
        QZELogging::shared().logError("Incorrect UDS code size: %@", bytes.size());
        return;
    }
    const std::string code =
        getJ2012CodeFromBytes(reply::byteValue(bytes[0]), reply::byteValue(bytes[1])) + "-N" +
        bytes[2];
    addCodeUnlessFiller(code, decodeStatusByte(reply::byteValue(bytes[3])));
}

}  // namespace qz
