#pragma once

#include "lib/Modules/Makes/QZEProtocolModule.hpp"

namespace qz {

// GM modules on J1850 VPW (Class 2): "19 D2 FF 00" read, "14" clears.
class QZEGmVpwDiagnosticModule : public QZEProtocolModule {
  public:
    QZEGmVpwDiagnosticModule();

  protected:
    QZEModuleProtocol protocolFor(const QZEModuleData& module) const override;
};

// GM modules on CAN (GMLAN, also on single-wire CAN): "A9 81 12" read, "04" clears.
class QZEGmCANDiagnosticModule : public QZEProtocolModule {
  public:
    QZEGmCANDiagnosticModule();

  protected:
    QZEModuleProtocol protocolFor(const QZEModuleData& module) const override;
};

}  // namespace qz
