#include "lib/Modules/Makes/Hyundai.hpp"

#include "lib/Facades/QZEVehicle.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"
#include "lib/Utils/QZEnhancedUtils.hpp"

namespace qz {

namespace {

constexpr int64_t kHyundai = static_cast<int64_t>(EnhancedProtocolManufacturer::Hyundai);

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

QZEHyundaiCanModule::QZEHyundaiCanModule() : QZEProtocolModule(kHyundai) {}

QZEModuleProtocol QZEHyundaiCanModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::hyundaiCan;
}

}  // namespace qz
