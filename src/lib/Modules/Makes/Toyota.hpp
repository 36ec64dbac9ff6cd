#pragma once

#include <cstdint>
#include <string>

#include "lib/Facades/QZEAdapters.hpp"
#include "lib/Modules/QZEMakeModule.hpp"

namespace qz {

// Toyota modules on K-line: "13" read in K-line messages (headers on), "14" clears. Older
// engine and transmission controllers answer two-digit codes ("00 12"), reported as the J2012
// code their definition maps them to ("dtcJ2012EncodedDict").
class QZEToyotaKlineDiagnosticModule : public QZEMakeModule {
  public:
    // Asked of the user when a controller keeps answering "response pending".
    static constexpr const char* kKeyCycleMessage =
        "Turn the ignition off for about 5 seconds, then turn it back on to continue the scan.";

    QZEToyotaKlineDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;

    // Sends through the base operation. A "response pending" answer, on a vehicle whose VIN
    // needs it, makes the module ask the user for an ignition key cycle (once per module), wait
    // for the answer and return the empty text, so that the request is sent again. When the
    // link goes away during the wait, nothing more is sent.
    QZECommandReply sendCommandToOstrel(const std::string& cmd) override;

    // The vehicles whose controllers need the key cycle: Japan-built Toyota, Lexus and Scion
    // (VIN beginning "JT").
    static bool needsKeyCycle(const OptionalText& vin);

  protected:
    QZEModuleProtocol protocolFor(const QZEModuleData& module) const override;

  private:
    // Two-digit codes to their J2012 codes and descriptions.
    void mapTwoDigitCodes(const QZEModuleData& module);

    bool m_abort = false;     // the key cycle was asked for: later pending answers stand
    bool m_linkLost = false;  // the wait ended with the link: nothing more is sent
};

// Toyota modules on CAN: "13" read in the CAN frame display, "14" clears. Modules with
// "isExtCAN" sit behind the body gateway, which the scanner addresses (750/758, extended
// addressing): their requests start with their own address byte.
class QZEToyotaCanDiagnosticModule : public QZEMakeModule {
  public:
    QZEToyotaCanDiagnosticModule();

    // Adds the J2012 code of the two bytes with the status, unless it is "P0000".
    void addDTCWithAByte(uint32_t a, uint32_t b, const std::string& status) override;

  protected:
    QZEModuleProtocol protocolFor(const QZEModuleData& module) const override;
};

}  // namespace qz
