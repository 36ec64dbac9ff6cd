#include "lib/Modules/Makes/Ford.hpp"

#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

namespace {
constexpr int64_t kFord = static_cast<int64_t>(EnhancedProtocolManufacturer::Ford);
}  // namespace

QZEFordPWMDiagnosticModule::QZEFordPWMDiagnosticModule()
    : QZEMakeModule(kFord, QZEModuleTraits::restoring) {}

QZEModuleProtocol QZEFordPWMDiagnosticModule::protocolFor(const QZEModuleData&) const {
    return QZEModuleProtocols::fordPwm;
}

QZEFordCANDiagnosticModule::QZEFordCANDiagnosticModule()
    : QZEMakeModule(kFord, QZEModuleTraits::restoring) {}

QZEModuleProtocol QZEFordCANDiagnosticModule::protocolFor(const QZEModuleData& module) const {
    if (module.extra("type").text() == "UDS") return QZEModuleProtocols::udsCan;
    return QZEModuleProtocols::kwpCan;
}

}  // namespace qz
