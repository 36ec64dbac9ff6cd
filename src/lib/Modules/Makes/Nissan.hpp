#pragma once

#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace qz {

// Nissan modules on K-line (KWP2000).
class QZENissanKWPDiagnosticModule : public QZEBaseDiagnosticModule {
  public:
    QZENissanKWPDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;
};

// Nissan modules on CAN.
class QZNissanCanDiagnosticModule : public QZEBaseDiagnosticModule {
  public:
    QZNissanCanDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;
};

}  // namespace qz
