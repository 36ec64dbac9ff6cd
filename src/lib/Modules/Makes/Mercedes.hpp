#pragma once

#include <cstdint>
#include <vector>

#include "lib/Modules/Makes/QZEModuleOptions.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace qz {

// Mercedes modules on MB-ISO.
class QZEMercedesMBISODiagModule : public QZEBaseDiagnosticModule, public QZEDelayedTransmission {
  public:
    QZEMercedesMBISODiagModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;
};

// Mercedes modules on K-line, on several pin pairs.
class QZEMercedesKlineDiagnosticModule : public QZEBaseDiagnosticModule,
                                         public QZEDelayedTransmission,
                                         public QZEMultiPinModule {
  public:
    QZEMercedesKlineDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;

    // Whether every method is tried on each module.
    void setPerformAllMethodScan(bool value) { m_performAllMethodScan = value; }
    bool performAllMethodScan() const { return m_performAllMethodScan; }

    // The high pins to try: 13, 12, 11, 9, 7.
    static std::vector<int64_t> getHighPINs();

  private:
    bool m_performAllMethodScan = false;
};

// Mercedes modules on CAN.
class QZEMercedesCANDiagnosticModule : public QZEBaseDiagnosticModule {
  public:
    QZEMercedesCANDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;
};

}  // namespace qz
