#include "lib/Modules/Makes/Honda.hpp"

#include <atomic>

#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

QZEHondaKlineDiagnosticModule::QZEHondaKlineDiagnosticModule()
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Honda)) {}

bool QZEHondaKlineDiagnosticModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZEHondaKlineDiagnosticModule::clearCodes(QZEModuleData&) {
    return false;
}

namespace {
std::atomic<bool> s_diagh{false};
}  // namespace

void QZEHondaKlineDiagnosticModule::setDIAGH(bool value) {
    s_diagh = value;
}

bool QZEHondaKlineDiagnosticModule::DIAGH() {
    return s_diagh;
}

QZEHondaCanDiagnosticModule::QZEHondaCanDiagnosticModule()
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Honda)) {}

bool QZEHondaCanDiagnosticModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZEHondaCanDiagnosticModule::clearCodes(QZEModuleData&) {
    return false;
}

}  // namespace qz
