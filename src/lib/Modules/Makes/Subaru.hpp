#pragma once

#include <string>
#include <vector>

#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace qz {

// Subaru modules on K-line.
class QZESubaruKlineDiagnosticModule : public QZEBaseDiagnosticModule {
  public:
    QZESubaruKlineDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;
};

// Subaru modules on CAN.
class QZESubaruCanDiagnosticModule : public QZEBaseDiagnosticModule {
  public:
    QZESubaruCanDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;

    // As the base operation, but the code is the five-character J2012 code without the
    // failure type; a record that is not four tokens is logged and skipped.
    void addUdsCodeFromBytes(const std::vector<std::string>& bytes) override;
};

}  // namespace qz
