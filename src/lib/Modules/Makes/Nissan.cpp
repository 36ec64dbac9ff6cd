#include "lib/Modules/Makes/Nissan.hpp"

#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

QZENissanKWPDiagnosticModule::QZENissanKWPDiagnosticModule()
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Nissan)) {}

bool QZENissanKWPDiagnosticModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZENissanKWPDiagnosticModule::clearCodes(QZEModuleData&) {
    return false;
}

QZNissanCanDiagnosticModule::QZNissanCanDiagnosticModule()
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Nissan)) {}

bool QZNissanCanDiagnosticModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZNissanCanDiagnosticModule::clearCodes(QZEModuleData&) {
    return false;
}

}  // namespace qz
