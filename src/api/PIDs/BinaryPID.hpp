#pragma once

#include "api/PIDs/Mode1/PIDRow.hpp"
#include "api/PIDs/PID.hpp"

namespace qz {

// An on/off value: one bit of one byte.
class BinaryPID : public PID<bool> {
  public:
    // For the catalogue: the bit `bitToRead` of the byte `byteToRead`, or a row of its table.
    BinaryPID(Mode mode, uint64_t pid, std::string fullName, std::string shortName,
              int64_t responseBytes, int64_t byteToRead, int64_t bitToRead,
              std::optional<int64_t> supportBit);
    BinaryPID(Mode mode, const PIDRow& row);

    // The bit read (0: the lowest).
    int64_t bitToRead() const { return bitToRead_; }

    // "PID: 01, Malfunction Indicator Lamp (MIL) Status, value: ON supported: supported".
    std::string description() const override;
    // "ON", "OFF", "N/A" for an absent value; "Unsupported"/"N/A" when not supported.
    std::string valueAsText(bool useAltValueIfAvailable = false) const override;

  protected:
    std::optional<bool> valueLocked() const override;

  private:
    const int64_t bitToRead_;
};

}  // namespace qz
