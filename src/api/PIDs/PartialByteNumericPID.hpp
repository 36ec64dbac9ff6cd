#pragma once

#include "api/PIDs/NumericPID.hpp"

namespace qz {

// A numeric value from a range of bits of one byte (bits 0...6 of 0x83 give 3).
class PartialByteNumericPID : public NumericPID {
  public:
    // For the catalogue: the bits `bitsToRead` of the byte `byteToRead`, or a row of its table.
    PartialByteNumericPID(Mode mode, uint64_t pid, std::string fullName, std::string shortName,
                          int64_t responseBytes, int64_t byteToRead, ClosedRange bitsToRead,
                          std::optional<int64_t> supportBit, const Dimension* units,
                          const Dimension* imperialUnits, std::optional<double> minValue,
                          std::optional<double> maxValue, double scalar, double offset);
    PartialByteNumericPID(Mode mode, const PIDRow& row);

    // The bits that hold the number.
    ClosedRange bitsToRead() const { return bitsToRead_; }

  protected:
    std::optional<Measurement> valueLocked() const override;

  private:
    const ClosedRange bitsToRead_;
};

}  // namespace qz
