#pragma once

#include <string>
#include <vector>

#include "lib/Modules/QZEMakeModule.hpp"

namespace qz {

// Nissan modules on K-line (KWP2000 by module address).
class QZENissanKWPDiagnosticModule : public QZEMakeModule {
  public:
    QZENissanKWPDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;
};

// Nissan modules on CAN (UDS), also on the CAN pins of K-line vehicles.
class QZNissanCanDiagnosticModule : public QZEMakeModule {
  public:
    QZNissanCanDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;

    // A UDS record becomes the J2012 code, "-N" and the failure-type byte ("P1148-N12"), whose
    // text comes from Nissan's failure types.
    void addUdsCodeFromBytes(const std::vector<std::string>& bytes) override;
};

}  // namespace qz
