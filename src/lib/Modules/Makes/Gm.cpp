#include "lib/Modules/Makes/Gm.hpp"

#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

QZEGmVpwDiagnosticModule::QZEGmVpwDiagnosticModule()
    : QZEProtocolModule(static_cast<int64_t>(EnhancedProtocolManufacturer::GM)) {}

QZEModuleProtocol QZEGmVpwDiagnosticModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::gmVpw;
}

QZEGmCANDiagnosticModule::QZEGmCANDiagnosticModule()
    : QZEProtocolModule(static_cast<int64_t>(EnhancedProtocolManufacturer::GM)) {}

QZEModuleProtocol QZEGmCANDiagnosticModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::gmCan;
}

}  // namespace qz
