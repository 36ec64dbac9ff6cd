#pragma once

#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace qz {

// Ford modules on J1850 PWM.
class QZEFordPWMDiagnosticModule : public QZEBaseDiagnosticModule {
  public:
    QZEFordPWMDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;
};

// Ford and Mazda modules on high- and medium-speed CAN.
class QZEFordCANDiagnosticModule : public QZEBaseDiagnosticModule {
  public:
    QZEFordCANDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;
};

}  // namespace qz
