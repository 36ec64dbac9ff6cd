#include "lib/Modules/Makes/Ford.hpp"

#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

QZEFordPWMDiagnosticModule::QZEFordPWMDiagnosticModule()
    : QZEProtocolModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Ford)) {}

QZEModuleProtocol QZEFordPWMDiagnosticModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::fordPwm;
}

QZEFordCANDiagnosticModule::QZEFordCANDiagnosticModule()
    : QZEProtocolModule(static_cast<int64_t>(EnhancedProtocolManufacturer::Ford)) {}

QZEModuleProtocol QZEFordCANDiagnosticModule::protocolFor(const QZEModuleData& module) const {
    if (module.extra("type").text() == "UDS") return QZEModuleProtocols::fordCanUds;
    return QZEModuleProtocols::fordCanKwp;
}

}  // namespace qz
