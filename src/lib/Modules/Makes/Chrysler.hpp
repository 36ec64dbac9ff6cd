#pragma once

#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace qz {

// Chrysler modules on J1850 VPW.
class QZEChryslerVPWDiagnosticModule : public QZEBaseDiagnosticModule {
  public:
    QZEChryslerVPWDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;
};

// Chrysler modules on CAN.
class QZEChryslerCANDiagnosticModule : public QZEBaseDiagnosticModule {
  public:
    QZEChryslerCANDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;
};

}  // namespace qz
