#include "lib/Modules/Makes/Ford.hpp"

#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

QZEFordPWMDiagnosticModule::QZEFordPWMDiagnosticModule()
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Ford)) {}

bool QZEFordPWMDiagnosticModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZEFordPWMDiagnosticModule::clearCodes(QZEModuleData&) {
    return false;
}

QZEFordCANDiagnosticModule::QZEFordCANDiagnosticModule()
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Ford)) {}

bool QZEFordCANDiagnosticModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZEFordCANDiagnosticModule::clearCodes(QZEModuleData&) {
    return false;
}

}  // namespace qz
