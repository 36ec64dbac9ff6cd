#pragma once

#include <cstdint>
#include <vector>

#include "lib/Modules/Makes/QZEModuleOptions.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace qz {

// Hyundai modules on K-line, on several pin pairs.
class QZEHyundaiKlineModule : public QZEBaseDiagnosticModule,
                              public QZEDelayedTransmission,
                              public QZEMultiPinModule {
  public:
    QZEHyundaiKlineModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;

    // The high pins to try: 8, 12, 13, 7 on firmware that switches pins, else 7.
    static std::vector<int64_t> getHighPINs();
};

// Hyundai modules on the MUT K-line protocol.
class QZEHyundaiMutModule : public QZEBaseDiagnosticModule {
  public:
    QZEHyundaiMutModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;
};

// Hyundai modules on CAN.
class QZEHyundaiCanModule : public QZEBaseDiagnosticModule {
  public:
    QZEHyundaiCanModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;
};

}  // namespace qz
