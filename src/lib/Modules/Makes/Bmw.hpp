#pragma once

#include <cstdint>
#include <vector>

#include "lib/Modules/Makes/QZEModuleOptions.hpp"
#include "lib/Modules/QZEMakeModule.hpp"

namespace qz {

// BMW modules on K-line (KWP2000 by module address), over the ordinary or the alternate method,
// on the pin pair the scanner selected.
class QZEBmwKlineDiagnosticModule : public QZEMakeModule,
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
    const QZEKLineMethod& method() const;

    bool m_useAlternateMethod = false;
};

// BMW modules on CAN: UDS with extended addressing behind the 6F1 header the scan set up (the
// module's address goes in front of every request).
class QZEBmwCanDiagnosticModule : public QZEMakeModule {
  public:
    QZEBmwCanDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;
};

}  // namespace qz
