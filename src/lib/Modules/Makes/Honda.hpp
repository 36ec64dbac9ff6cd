#pragma once

#include "lib/Modules/Makes/QZEProtocolModule.hpp"

namespace qz {

class QZEBitEncodedAddress;

// Honda modules on K-line, or on DIAG-H while the class-wide flag is set (the scanner then
// selects the line; the modules' own protocol and pins are left alone). Modules with a
// bit-encoded fault table read each of its bytes with "21 <byte>", each set bit being the
// fault of the table (reported as its J2012 code where the definition gives one); the others
// read KWP2000 ("18 00 FF 00"). "Clear_ID" is the module's clear, else "14 FF 00".
class QZEHondaKlineDiagnosticModule : public QZEProtocolModule {
  public:
    QZEHondaKlineDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;

    // The class-wide DIAG-H flag: reads and clears of every instance use DIAG-H while it is
    // set. Safe to use from any thread.
    static void setDIAGH(bool value);
    static bool DIAGH();

  protected:
    QZEModuleProtocol protocolFor(const QZEModuleData& module) const override;
    bool selectsModuleBus() const override { return !DIAGH(); }

  private:
    bool readBitTable(QZEModuleData& module, const QZEBitEncodedAddress& table);
};

// Honda modules on 29-bit CAN: UDS ("19 02 FF"), "14 FF FF FF" clears.
class QZEHondaCanDiagnosticModule : public QZEProtocolModule {
  public:
    QZEHondaCanDiagnosticModule();

  protected:
    QZEModuleProtocol protocolFor(const QZEModuleData& module) const override;
};

}  // namespace qz
