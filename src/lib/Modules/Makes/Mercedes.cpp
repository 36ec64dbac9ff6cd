#include "lib/Modules/Makes/Mercedes.hpp"

#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

QZEMercedesMBISODiagModule::QZEMercedesMBISODiagModule()
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Mercedes)) {}

bool QZEMercedesMBISODiagModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZEMercedesMBISODiagModule::clearCodes(QZEModuleData&) {
    return false;
}

QZEMercedesKlineDiagnosticModule::QZEMercedesKlineDiagnosticModule()
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Mercedes)) {}

bool QZEMercedesKlineDiagnosticModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZEMercedesKlineDiagnosticModule::clearCodes(QZEModuleData&) {
    return false;
}

std::vector<int64_t> QZEMercedesKlineDiagnosticModule::getHighPINs() {
    return {13, 12, 11, 9, 7};
}

QZEMercedesCANDiagnosticModule::QZEMercedesCANDiagnosticModule()
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Mercedes)) {}

bool QZEMercedesCANDiagnosticModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZEMercedesCANDiagnosticModule::clearCodes(QZEModuleData&) {
    return false;
}

}  // namespace qz
