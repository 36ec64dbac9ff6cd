#include "lib/Modules/Makes/Hyundai.hpp"

#include "lib/Utils/EnhancedProtocolManufacturer.hpp"
#include "lib/Utils/QZEnhancedUtils.hpp"

namespace qz {

namespace {

constexpr int64_t kHyundai = static_cast<int64_t>(EnhancedProtocolManufacturer::Hyundai);
// The header the scanner selects for the MUT line.
constexpr const char* kMutLineHeader = "KQSH8040F1";

}  // namespace

QZEHyundaiKlineModule::QZEHyundaiKlineModule()
    : QZEMakeModule(kHyundai, QZEModuleTraits::hyundaiKLine) {}

std::vector<int64_t> QZEHyundaiKlineModule::getHighPINs() {
    if (QZEnhancedUtils::checkFwIsAtLeast(400, "PIN SWITCHING")) return {8, 12, 13, 7};
    return {7};
}

QZEModuleProtocol QZEHyundaiKlineModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::kwpKLine;
}

QZEHyundaiMutModule::QZEHyundaiMutModule() : QZEMakeModule(kHyundai, QZEModuleTraits::restoring) {}

QZEModuleProtocol QZEHyundaiMutModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::hyundaiMut;
}

// The line's header put back after a read or clear; refused, it is only logged: what was read
// or cleared stands, and the next module selects its own header.
bool QZEHyundaiMutModule::scanCodes(QZEModuleData& module) {
    const bool ok = QZEMakeModule::scanCodes(module);
    sendSetupCommandToOstrel(kMutLineHeader);
    return ok;
}

bool QZEHyundaiMutModule::clearCodes(QZEModuleData& module) {
    const bool ok = QZEMakeModule::clearCodes(module);
    sendSetupCommandToOstrel(kMutLineHeader);
    return ok;
}

QZEHyundaiCanModule::QZEHyundaiCanModule() : QZEMakeModule(kHyundai, QZEModuleTraits::restoring) {}

QZEModuleProtocol QZEHyundaiCanModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::udsCan;
}

}  // namespace qz
