#pragma once

#include "api/PIDs/NumericPID.hpp"

namespace qz {

// A numeric value read as two's complement over the whole field: raw * scalar + offset with a
// signed raw (80 00 at 0.25 per bit is -8192).
class SignedNumericPID : public NumericPID {
  public:
    // For the catalogue, as NumericPID's.
    SignedNumericPID(Mode mode, uint64_t pid, std::string fullName, std::string shortName,
                     int64_t responseBytes, std::optional<ClosedRange> bytesToRead,
                     std::optional<int64_t> supportBit, const Dimension* units,
                     const Dimension* imperialUnits, double minValue, double maxValue,
                     double scalar, double offset)
        : NumericPID(mode, pid, std::move(fullName), std::move(shortName), responseBytes,
                     bytesToRead, supportBit, units, imperialUnits, minValue, maxValue, scalar,
                     offset) {}
    SignedNumericPID(Mode mode, const PIDRow& row) : NumericPID(mode, row) {}

  protected:
    std::optional<Measurement> valueLocked() const override;
};

}  // namespace qz
