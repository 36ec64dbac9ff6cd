#pragma once

#include "lib/Modules/Makes/QZEProtocolModule.hpp"

namespace qz {

// Ford modules on J1850 PWM: "13" read in PWM lines, "14" clears.
class QZEFordPWMDiagnosticModule : public QZEProtocolModule {
  public:
    QZEFordPWMDiagnosticModule();

  protected:
    QZEModuleProtocol protocolFor(const QZEModuleData& module) const override;
};

// Ford and Mazda modules on high- and medium-speed CAN: KWP2000 on CAN, or UDS for the modules
// whose "type" is "UDS".
class QZEFordCANDiagnosticModule : public QZEProtocolModule {
  public:
    QZEFordCANDiagnosticModule();

  protected:
    QZEModuleProtocol protocolFor(const QZEModuleData& module) const override;
};

}  // namespace qz
