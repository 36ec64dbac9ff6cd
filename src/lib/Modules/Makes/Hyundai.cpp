#include "lib/Modules/Makes/Hyundai.hpp"

#include "lib/Utils/EnhancedProtocolManufacturer.hpp"
#include "lib/Utils/QZEnhancedUtils.hpp"

namespace qz {

QZEHyundaiKlineModule::QZEHyundaiKlineModule()
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Hyundai)) {}

bool QZEHyundaiKlineModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZEHyundaiKlineModule::clearCodes(QZEModuleData&) {
    return false;
}

std::vector<int64_t> QZEHyundaiKlineModule::getHighPINs() {
    if (QZEnhancedUtils::checkFwIsAtLeast(400, "PIN SWITCHING")) return {8, 12, 13, 7};
    return {7};
}

QZEHyundaiMutModule::QZEHyundaiMutModule()
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Hyundai)) {}

bool QZEHyundaiMutModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZEHyundaiMutModule::clearCodes(QZEModuleData&) {
    return false;
}

QZEHyundaiCanModule::QZEHyundaiCanModule()
    : QZEBaseDiagnosticModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Hyundai)) {}

bool QZEHyundaiCanModule::scanCodes(QZEModuleData&) {
    return false;
}

bool QZEHyundaiCanModule::clearCodes(QZEModuleData&) {
    return false;
}

}  // namespace qz
