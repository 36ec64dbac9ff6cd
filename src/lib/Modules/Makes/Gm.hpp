#pragma once

#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace qz {

// GM modules on J1850 VPW.
class QZEGmVpwDiagnosticModule : public QZEBaseDiagnosticModule {
  public:
    QZEGmVpwDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;
};

// GM modules on CAN (GMLAN, also on single-wire CAN).
class QZEGmCANDiagnosticModule : public QZEBaseDiagnosticModule {
  public:
    QZEGmCANDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;
};

}  // namespace qz
