#include "lib/Modules/Makes/Hyundai.hpp"

#include "lib/Facades/QZEVehicle.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"
#include "lib/Utils/QZEnhancedUtils.hpp"

namespace qz {

namespace {

constexpr int64_t kHyundai = static_cast<int64_t>(EnhancedProtocolManufacturer::Hyundai);
// The header the scanner selects for the MUT line.
constexpr const char* kMutLineHeader = "KQSH8040F1";

}  // namespace

QZEHyundaiKlineModule::QZEHyundaiKlineModule() : QZEProtocolModule(kHyundai) {}

std::vector<int64_t> QZEHyundaiKlineModule::getHighPINs() {
    if (QZEnhancedUtils::checkFwIsAtLeast(400, "PIN SWITCHING")) return {8, 12, 13, 7};
    return {7};
}

QZEModuleProtocol QZEHyundaiKlineModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::hyundaiKLine;
}

void QZEHyundaiKlineModule::beforeExchange() {
    if (takeDelayTransmission()) waitBeforeFirstKLineExchange();
}

void QZEHyundaiKlineModule::afterGoodRead(QZEModuleData& module) {
    if (QZEVehicle::TheVehicle().activeHighPin() != 0)
        module.setExtra("RESPONSE_PIN_COMMAND", activePins());
}

QZEHyundaiMutModule::QZEHyundaiMutModule() : QZEProtocolModule(kHyundai) {}

QZEModuleProtocol QZEHyundaiMutModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::hyundaiMut;
}

bool QZEHyundaiMutModule::scanCodes(QZEModuleData& module) {
    const bool ok = QZEProtocolModule::scanCodes(module);
    sendSetupCommandToOstrel(kMutLineHeader);
    return ok;
}

bool QZEHyundaiMutModule::clearCodes(QZEModuleData& module) {
    const bool ok = QZEProtocolModule::clearCodes(module);
    sendSetupCommandToOstrel(kMutLineHeader);
    return ok;
}

QZEHyundaiCanModule::QZEHyundaiCanModule() : QZEProtocolModule(kHyundai) {}

QZEModuleProtocol QZEHyundaiCanModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::hyundaiCan;
}

}  // namespace qz
