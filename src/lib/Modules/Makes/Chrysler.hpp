#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "lib/Modules/QZEMakeModule.hpp"

namespace qz {

// Chrysler modules on J1850 VPW: "13" read in PWM-style lines, "14" clears. Modules whose
// "type" is "J2190" or "J2190_<n>" (the ABS) report their faults as three-byte bitmaps, read
// with the requests of their "readoutCmd" (several separated by commas) and decoded with the
// first layout, or the second layout's fault blocks n, n + 1, ... in turn. Reads have request
// type 2.
class QZEChryslerVPWDiagnosticModule : public QZEMakeModule {
  public:
    QZEChryslerVPWDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;

    // The three bitmap bytes ("b0 b1 b2") of a positive answer to the read-out request; none
    // when the reply holds no such answer.
    static std::optional<std::string> j2190Bitmap(std::string_view reply,
                                                  const std::string& readout);

  protected:
    QZEModuleProtocol protocolFor(const QZEModuleData& module) const override;

  private:
    bool readJ2190(QZEModuleData& module, const std::string& type);
};

// Chrysler modules on 11- and 29-bit CAN: KWP2000 on CAN ("18 00 FF 00"), "14 FF 00" clears.
// The modules listed under bus keys 10 and 11 are read on CAN B (protocol "<", which the scan
// selects for them); the class selects it itself where it is not in force, as when clearing.
class QZEChryslerCANDiagnosticModule : public QZEMakeModule {
  public:
    QZEChryslerCANDiagnosticModule();

  protected:
    QZEModuleProtocol protocolFor(const QZEModuleData& module) const override;
    std::optional<std::string> protocolOf(const QZEModuleData& module) const override;
};

}  // namespace qz
