#pragma once

#include <cstdint>
#include <string>

#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace qz {

// Toyota modules on K-line.
class QZEToyotaKlineDiagnosticModule : public QZEBaseDiagnosticModule {
  public:
    QZEToyotaKlineDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;

    // Sends through the base operation; on a response-pending reply from a vehicle that
    // needs it, asks the user for an ignition key cycle, waits for the answer and returns the
    // empty text.
    std::string sendCommandToOstrel(const std::string& cmd) override;
};

// Toyota modules on CAN, including the extended address range.
class QZEToyotaCanDiagnosticModule : public QZEBaseDiagnosticModule {
  public:
    QZEToyotaCanDiagnosticModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;

    // Adds the J2012 code of the two bytes with the status, unless it is "P0000".
    void addDTCWithAByte(uint32_t a, uint32_t b, const std::string& status) override;
};

}  // namespace qz
