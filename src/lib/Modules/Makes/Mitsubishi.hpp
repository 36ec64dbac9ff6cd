#pragma once

#include <string>

#include "lib/Modules/QZEMakeModule.hpp"

namespace qz {

// Mitsubishi modules on K-line (MUT), at the line speed of their "baud_hex" (selected as the
// sensor's interface). A module with a bit-encoded fault table reads each of its bytes ("21"
// and the byte); any other reads KWP2000. The clear is the module's "Clear_ID", or KWP2000's.
// The folded braking module tries the line speeds of its "baud_rates" in turn, each with its
// unit's table, address, erase request and J2012 codes (or, in the older form, a table alone),
// stopping at the first that answers when it is marked "first".
class QZEMitsubishiKlineDiagnosticModule : public QZEMakeModule {
  public:
    QZEMitsubishiKlineDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;

  protected:
    QZEModuleProtocol protocolFor(const QZEModuleData& module) const override;

  private:
    bool selectLineSpeed(const std::string& baud, const QZEModuleData& module);
};

// Mitsubishi modules on CAN (KWP2000 on CAN).
class QZEMitsubishiCANDiagnosticModule : public QZEMakeModule {
  public:
    QZEMitsubishiCANDiagnosticModule();

  protected:
    QZEModuleProtocol protocolFor(const QZEModuleData& module) const override;
};

}  // namespace qz
