#pragma once

#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace qz {

// Mitsubishi modules on K-line.
class QZEMitsubishiKlineDiagnosticModule : public QZEBaseDiagnosticModule {
  public:
    QZEMitsubishiKlineDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;
};

// Mitsubishi modules on CAN.
class QZEMitsubishiCANDiagnosticModule : public QZEBaseDiagnosticModule {
  public:
    QZEMitsubishiCANDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;
};

}  // namespace qz
