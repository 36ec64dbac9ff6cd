#pragma once

#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace qz {

// Honda modules on K-line, or on DIAG-H while the class-wide flag is set.
class QZEHondaKlineDiagnosticModule : public QZEBaseDiagnosticModule {
  public:
    QZEHondaKlineDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;

    // The class-wide DIAG-H flag: reads and clears of every instance use DIAG-H while it is
    // set. Safe to use from any thread.
    static void setDIAGH(bool value);
    static bool DIAGH();
};

// Honda modules on CAN.
class QZEHondaCanDiagnosticModule : public QZEBaseDiagnosticModule {
  public:
    QZEHondaCanDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;
};

}  // namespace qz
