#include "lib/Modules/Makes/Gm.hpp"

#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

namespace {
constexpr int64_t kGm = static_cast<int64_t>(EnhancedProtocolManufacturer::GM);
}  // namespace

QZEGmVpwDiagnosticModule::QZEGmVpwDiagnosticModule()
    : QZEMakeModule(kGm, QZEModuleTraits::restoring) {}

QZEModuleProtocol QZEGmVpwDiagnosticModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::gmVpw;
}

QZEGmCANDiagnosticModule::QZEGmCANDiagnosticModule()
    : QZEMakeModule(kGm, QZEModuleTraits::restoring) {}

QZEModuleProtocol QZEGmCANDiagnosticModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::gmCan;
}

}  // namespace qz
