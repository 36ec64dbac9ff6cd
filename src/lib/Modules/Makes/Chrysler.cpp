#include "lib/Modules/Makes/Chrysler.hpp"

#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

QZEChryslerVPWDiagnosticModule::QZEChryslerVPWDiagnosticModule()
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Chrysler)) {}

bool QZEChryslerVPWDiagnosticModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZEChryslerVPWDiagnosticModule::clearCodes(QZEModuleData&) {
    return false;
}

QZEChryslerCANDiagnosticModule::QZEChryslerCANDiagnosticModule()
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Chrysler)) {}

bool QZEChryslerCANDiagnosticModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZEChryslerCANDiagnosticModule::clearCodes(QZEModuleData&) {
    return false;
}

}  // namespace qz
