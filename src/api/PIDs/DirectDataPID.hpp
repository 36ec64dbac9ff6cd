#pragma once

#include "api/PIDs/Mode1/PIDRow.hpp"
#include "api/PIDs/PID.hpp"

namespace qz {

// The answer's bytes unchanged: every data text that reads as a byte, in order.
class DirectDataPID : public PID<std::vector<uint8_t>> {
  public:
    // For the catalogue: the bytes of `bytesToRead`, or a row of its table.
    DirectDataPID(Mode mode, uint64_t pid, PIDCategory category, std::string fullName,
                  std::string shortName, int64_t responseBytes,
                  std::optional<ClosedRange> bytesToRead, std::optional<int64_t> supportBit);
    DirectDataPID(Mode mode, const PIDRow& row);

    // "PID: 13, Location of Oxygen Sensors, value: 03 supported: unknown".
    std::string description() const override;

  protected:
    std::optional<std::vector<uint8_t>> valueLocked() const override;
};

}  // namespace qz
