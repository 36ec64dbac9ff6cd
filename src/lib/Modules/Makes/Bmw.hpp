#pragma once

#include <cstdint>
#include <vector>

#include "lib/Modules/Makes/QZEModuleOptions.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace qz {

// BMW modules on K-line, over the ordinary or the alternate method.
class QZEBmwKlineDiagnosticModule : public QZEBaseDiagnosticModule,
                                    public QZEDelayedTransmission,
                                    public QZEMultiPinModule {
  public:
    QZEBmwKlineDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;

    // YES for modules of the alternate K-line bus.
    void setUseAlternateMethod(bool value) { m_useAlternateMethod = value; }
    bool useAlternateMethod() const { return m_useAlternateMethod; }

    // The high pins to try: 7 and 8 on firmware that switches pins, else 7.
    static std::vector<int64_t> getHighPINs();

  private:
    bool m_useAlternateMethod = false;
};

// BMW modules on CAN.
class QZEBmwCanDiagnosticModule : public QZEBaseDiagnosticModule {
  public:
    QZEBmwCanDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;
};

}  // namespace qz
