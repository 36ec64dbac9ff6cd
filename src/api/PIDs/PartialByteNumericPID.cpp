#include "api/PIDs/PartialByteNumericPID.hpp"

#include "api/PIDs/HexText.hpp"
#include "api/Utils/ByteBits.hpp"

namespace qz {

PartialByteNumericPID::PartialByteNumericPID(
    Mode mode, uint64_t pid, std::string fullName, std::string shortName, int64_t responseBytes,
    int64_t byteToRead, ClosedRange bitsToRead, std::optional<int64_t> supportBit,
    const Dimension* units, const Dimension* imperialUnits, std::optional<double> minValue,
    std::optional<double> maxValue, double scalar, double offset)
    : NumericPID(mode, pid, std::move(fullName), std::move(shortName), responseBytes,
                 ClosedRange{byteToRead, byteToRead}, supportBit, units, imperialUnits, minValue,
                 maxValue, scalar, offset),
      bitsToRead_(bitsToRead) {}

PartialByteNumericPID::PartialByteNumericPID(Mode mode, const PIDRow& row)
    : PartialByteNumericPID(mode, row.pid, std::string(row.fullName), std::string(row.shortName),
                            row.responseBytes, row.byte, row.bits.value_or(ClosedRange{0, 7}),
                            row.supportBit, unitFor(row.units), unitFor(row.altUnit), row.minValue,
                            row.maxValue, row.scalar, row.offset) {}

std::optional<Measurement> PartialByteNumericPID::valueLocked() const {
    int64_t i = bytesToRead_.lowerBound;
    if (i < 0 || i >= static_cast<int64_t>(data_.size())) return std::nullopt;
    auto byte = parseByte(data_[i]);
    if (!byte) return std::nullopt;
    return measure(*bits(*byte, bitsToRead_.lowerBound, bitsToRead_.upperBound));
}

}  // namespace qz
