#include "lib/Modules/Makes/Mitsubishi.hpp"

#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

QZEMitsubishiKlineDiagnosticModule::QZEMitsubishiKlineDiagnosticModule()
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Mitsubishi)) {}

bool QZEMitsubishiKlineDiagnosticModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZEMitsubishiKlineDiagnosticModule::clearCodes(QZEModuleData&) {
    return false;
}

QZEMitsubishiCANDiagnosticModule::QZEMitsubishiCANDiagnosticModule()
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Mitsubishi)) {}

bool QZEMitsubishiCANDiagnosticModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZEMitsubishiCANDiagnosticModule::clearCodes(QZEModuleData&) {
    return false;
}

}  // namespace qz
