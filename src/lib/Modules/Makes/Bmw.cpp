#include "lib/Modules/Makes/Bmw.hpp"

#include "lib/Utils/EnhancedProtocolManufacturer.hpp"
#include "lib/Utils/QZEnhancedUtils.hpp"

namespace qz {

namespace {

constexpr int64_t kBmw = static_cast<int64_t>(EnhancedProtocolManufacturer::BMW);

constexpr QZEKLineMethod kOrdinary{"ordinary", "", "80", "18 02 FF FF", "14 FF FF"};
constexpr QZEKLineMethod kAlternate{"alternate", "", "81", "18 00 FF 00", "14 FF 00"};
constexpr QZECanMethod kExtendedUds{QZECanMethod::Layout::extendedUds, "19 02 FF", "14 FF FF FF",
                                    true};

}  // namespace

QZEBmwKlineDiagnosticModule::QZEBmwKlineDiagnosticModule() : QZEMakeModule(kBmw) {}

const QZEKLineMethod& QZEBmwKlineDiagnosticModule::method() const {
    return m_useAlternateMethod ? kAlternate : kOrdinary;
}

bool QZEBmwKlineDiagnosticModule::scanCodes(QZEModuleData& module) {
    keepHighPin(highPin());
    prepareKLine(module, takeDelayTransmission());
    const bool ok = readKLine(module, method());
    if (ok) notePins(module);
    finishDefinitions(module);
    return ok;
}

bool QZEBmwKlineDiagnosticModule::clearCodes(QZEModuleData& module) {
    prepareKLine(module, takeDelayTransmission());
    return clearKLine(module, method());
}

std::vector<int64_t> QZEBmwKlineDiagnosticModule::getHighPINs() {
    if (QZEnhancedUtils::checkFwIsAtLeast(400, "PIN-SWITCHING")) return {7, 8};
    return {7};
}

QZEBmwCanDiagnosticModule::QZEBmwCanDiagnosticModule() : QZEMakeModule(kBmw) {}

bool QZEBmwCanDiagnosticModule::scanCodes(QZEModuleData& module) {
    auto target = address(module.requestId());
    if (!target) return false;
    const bool ok = readCanCodes(kExtendedUds, *target + " ");
    finishDefinitions(module);
    return ok;
}

bool QZEBmwCanDiagnosticModule::clearCodes(QZEModuleData& module) {
    auto target = address(module.requestId());
    return target && clearCan(kExtendedUds, *target + " ");
}

}  // namespace qz
