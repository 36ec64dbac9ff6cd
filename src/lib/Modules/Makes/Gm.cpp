#include "lib/Modules/Makes/Gm.hpp"

#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

QZEGmVpwDiagnosticModule::QZEGmVpwDiagnosticModule()
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::GM)) {}

bool QZEGmVpwDiagnosticModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZEGmVpwDiagnosticModule::clearCodes(QZEModuleData&) {
    return false;
}

QZEGmCANDiagnosticModule::QZEGmCANDiagnosticModule()
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::GM)) {}

bool QZEGmCANDiagnosticModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZEGmCANDiagnosticModule::clearCodes(QZEModuleData&) {
    return false;
}

}  // namespace qz
