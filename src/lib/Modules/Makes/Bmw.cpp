#include "lib/Modules/Makes/Bmw.hpp"

#include "lib/Utils/EnhancedProtocolManufacturer.hpp"
#include "lib/Utils/QZEnhancedUtils.hpp"

namespace qz {

QZEBmwKlineDiagnosticModule::QZEBmwKlineDiagnosticModule()
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::BMW)) {}

bool QZEBmwKlineDiagnosticModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZEBmwKlineDiagnosticModule::clearCodes(QZEModuleData&) {
    return false;
}

std::vector<int64_t> QZEBmwKlineDiagnosticModule::getHighPINs() {
    if (QZEnhancedUtils::checkFwIsAtLeast(400, "PIN-SWITCHING")) return {7, 8};
    return {7};
}

QZEBmwCanDiagnosticModule::QZEBmwCanDiagnosticModule()
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::BMW)) {}

bool QZEBmwCanDiagnosticModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZEBmwCanDiagnosticModule::clearCodes(QZEModuleData&) {
    return false;
}

}  // namespace qz
