#pragma once

#include "api/PIDs/Mode1/PIDRow.hpp"
#include "api/PIDs/PID.hpp"
#include "platform/units/Dimension.hpp"

namespace qz {

// A measurement decoded from one or more bytes: the unsigned big-endian number of the bytes in
// bytesToRead, times scalar, plus offset, in `units` (UnitNone::none when absent). Values are not
// clamped to minValue...maxValue, which are display limits.
class NumericPID : public PID<Measurement> {
  public:
    // minValue absent: offset. maxValue absent: (2^(8n) - 1) * scalar + offset, n the number of
    // bytes of bytesToRead (responseBytes when that is absent).
    NumericPID(Mode mode, uint64_t pid, std::string fullName, std::string shortName,
               int64_t responseBytes, std::optional<ClosedRange> bytesToRead,
               std::optional<int64_t> supportBit, const Dimension* units,
               const Dimension* imperialUnits, std::optional<double> minValue,
               std::optional<double> maxValue, double scalar, double offset);
    // From a row of the catalogue's table.
    NumericPID(Mode mode, const PIDRow& row);

    // The value's unit (its symbol: units()->symbol()), and the imperial one of altValue()
    // (none when the unit has no imperial counterpart).
    const Dimension* units() const { return units_; }
    const Dimension* altUnit() const { return altUnit_; }

    // The display limits of the value.
    double minValue() const;
    void setMinValue(double v);
    double maxValue() const;
    void setMaxValue(double v);
    // The scaling: value = raw * scalar + offset. One step of the value is `scalar`, the
    // resolution to round to for people. The support walk may rescale some parameters.
    double scalar() const;
    void setScalar(double v);
    double offset() const;
    void setOffset(double v);

    // The value converted to altUnit (the value itself when there is no altUnit).
    std::optional<Measurement> altValue() const;

    // "PID: 0C, Engine RPM, value: 1726.000000 units: RPM supported: supported".
    std::string description() const override;
    // "1726.0 RPM"; with the argument true and an alternative unit, the converted value.
    std::string valueAsText(bool useAltValueIfAvailable = false) const override;

  protected:
    std::optional<Measurement> valueLocked() const override;

    // The number of `raw` scaled into `units` (or UnitNone::none).
    Measurement measure(double raw) const;
    // The joined text of the bytes in bytesToRead, or nothing when a byte is missing.
    std::optional<std::string> joinedBytesLocked() const;
    // parseHex64 of joinedBytesLocked(), read straight from the byte texts.
    std::optional<uint64_t> joinedNumberLocked() const;
    // (2^(8n) - 1) * scalar + offset for n = number of bytes in bytesToRead.
    double computedMaxLocked() const;
    std::optional<Measurement> altValueLocked() const;

    double minValue_;
    double maxValue_;
    double scalar_;
    double offset_;

  private:
    const Dimension* const units_;
    const Dimension* const altUnit_;
};

}  // namespace qz
