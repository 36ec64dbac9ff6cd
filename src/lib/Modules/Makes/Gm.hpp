#pragma once

#include "lib/Modules/QZEMakeModule.hpp"

namespace qz {

// GM modules on J1850 VPW (Class 2): "19 D2 FF 00" read, "14" clears.
class QZEGmVpwDiagnosticModule : public QZEMakeModule {
  public:
    QZEGmVpwDiagnosticModule();

  protected:
    QZEModuleProtocol protocolFor(const QZEModuleData& module) const override;
};

// GM modules on CAN (GMLAN, also on single-wire CAN): "A9 81 12" read, "04" clears.
class QZEGmCANDiagnosticModule : public QZEMakeModule {
  public:
    QZEGmCANDiagnosticModule();

  protected:
    QZEModuleProtocol protocolFor(const QZEModuleData& module) const override;
};

}  // namespace qz
