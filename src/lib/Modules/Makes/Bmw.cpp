#include "lib/Modules/Makes/Bmw.hpp"

#include "lib/Facades/QZEVehicle.hpp"
#include "lib/Logging/QZEFormat.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"
#include "lib/Utils/QZEnhancedUtils.hpp"

namespace qz {

namespace {
constexpr int64_t kBmw = static_cast<int64_t>(EnhancedProtocolManufacturer::BMW);
}  // namespace

QZEBmwKlineDiagnosticModule::QZEBmwKlineDiagnosticModule()
    : QZEMakeModule(kBmw, QZEModuleTraits::kLine) {}

QZEModuleProtocol QZEBmwKlineDiagnosticModule::protocolFor(const QZEModuleData&) const {
    return m_useAlternateMethod ? QZEModuleProtocols::kwpKLine : QZEModuleProtocols::bmwKLine;
}

bool QZEBmwKlineDiagnosticModule::scanCodes(QZEModuleData& module) {
    // The high pin of the pin read (low pin none), selected again when something since (the
    // scanner's switch to the K-line protocol) moved the pins.
    const int64_t pin = highPin();
    if (pin > 0 && QZEVehicle::TheVehicle().activeHighPin() != pin &&
        QZEnhancedUtils::checkFwIsAtLeast(400, "PIN SWITCHING") &&
        !setUpForRead(objcFormat("KQSM%lX0", pin)))
        return false;
    return QZEMakeModule::scanCodes(module);
}

std::vector<int64_t> QZEBmwKlineDiagnosticModule::getHighPINs() {
    if (QZEnhancedUtils::checkFwIsAtLeast(400, "PIN-SWITCHING")) return {7, 8};
    return {7};
}

QZEBmwCanDiagnosticModule::QZEBmwCanDiagnosticModule()
    : QZEMakeModule(kBmw, QZEModuleTraits::can) {}

QZEModuleProtocol QZEBmwCanDiagnosticModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::bmwCan;
}

}  // namespace qz
