#include "lib/Modules/Makes/Toyota.hpp"

#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

QZEToyotaKlineDiagnosticModule::QZEToyotaKlineDiagnosticModule()
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Toyota)) {}

bool QZEToyotaKlineDiagnosticModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZEToyotaKlineDiagnosticModule::clearCodes(QZEModuleData&) {
    return false;
}

std::string QZEToyotaKlineDiagnosticModule::sendCommandToOstrel(const std::string& cmd) {
    return QZEBaseDiagnosticModule::sendCommandToOstrel(cmd);
}

QZEToyotaCanDiagnosticModule::QZEToyotaCanDiagnosticModule()
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Toyota)) {}

bool QZEToyotaCanDiagnosticModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZEToyotaCanDiagnosticModule::clearCodes(QZEModuleData&) {
    return false;
}

void QZEToyotaCanDiagnosticModule::addDTCWithAByte(uint32_t a, uint32_t b,
                                                   const std::string& status) {
    QZEBaseDiagnosticModule::addDTCWithAByte(a, b, status);
}

}  // namespace qz
