#include "lib/Modules/Makes/Honda.hpp"

#include <atomic>

#include "lib/Decoders/QZEBitEncodedAddress.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

namespace {

constexpr int64_t kHonda = static_cast<int64_t>(EnhancedProtocolManufacturer::Honda);

std::atomic<bool> s_diagh{false};

}  // namespace

QZEHondaKlineDiagnosticModule::QZEHondaKlineDiagnosticModule()
    : QZEMakeModule(kHonda, QZEModuleTraits::restoring) {}

void QZEHondaKlineDiagnosticModule::setDIAGH(bool value) {
    s_diagh = value;
}

bool QZEHondaKlineDiagnosticModule::DIAGH() {
    return s_diagh;
}

QZEModuleProtocol QZEHondaKlineDiagnosticModule::protocolFor(const QZEModuleData& module) const {
    QZEModuleProtocol row = module.extra("dtcBitEncodedDitct").object<QZEBitEncodedAddress>()
                                ? QZEModuleProtocols::hondaBitTable
                                : QZEModuleProtocols::kwpKLine;
    if (auto clear = module.extra("Clear_ID").text(); clear && !clear->empty()) row.clear = *clear;
    return row;
}

QZEHondaCanDiagnosticModule::QZEHondaCanDiagnosticModule()
    : QZEMakeModule(kHonda, QZEModuleTraits::restoring) {}

QZEModuleProtocol QZEHondaCanDiagnosticModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::udsCan;
}

}  // namespace qz
