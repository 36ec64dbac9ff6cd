#include "lib/Modules/Makes/Subaru.hpp"

#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

QZESubaruKlineDiagnosticModule::QZESubaruKlineDiagnosticModule()
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Subaru)) {}

bool QZESubaruKlineDiagnosticModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZESubaruKlineDiagnosticModule::clearCodes(QZEModuleData&) {
    return false;
}

QZESubaruCanDiagnosticModule::QZESubaruCanDiagnosticModule()
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Subaru)) {}

bool QZESubaruCanDiagnosticModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZESubaruCanDiagnosticModule::clearCodes(QZEModuleData&) {
    return false;
}

void QZESubaruCanDiagnosticModule::addUdsCodeFromBytes(const std::vector<std::string>& bytes) {
    QZEBaseDiagnosticModule::addUdsCodeFromBytes(bytes);
}

}  // namespace qz
