#include "api/PIDs/BinaryPID.hpp"

#include "api/PIDs/HexText.hpp"

namespace qz {

BinaryPID::BinaryPID(Mode mode, uint64_t pid, std::string fullName, std::string shortName,
                     int64_t responseBytes, int64_t byteToRead, int64_t bitToRead,
                     std::optional<int64_t> supportBit)
    : PID(mode, pid, PIDCategory::boolean, std::move(fullName), std::move(shortName), responseBytes,
          ClosedRange{byteToRead, byteToRead}, supportBit),
      bitToRead_(bitToRead) {}

BinaryPID::BinaryPID(Mode mode, const PIDRow& row)
    : BinaryPID(mode, row.pid, std::string(row.fullName), std::string(row.shortName),
                row.responseBytes, row.byte, row.bit, row.supportBit) {}

std::optional<bool> BinaryPID::valueLocked() const {
    auto byte = readableByteAt(data_, bytesToRead_.lowerBound);
    if (!byte) return std::nullopt;
    return bitToRead_ >= 0 && bitToRead_ <= 7 && bitAt(*byte, bitToRead_);
}

namespace {
std::string onOff(std::optional<bool> v) {
    return v ? (*v ? "ON" : "OFF") : "N/A";
}
}  // namespace

std::string BinaryPID::description() const {
    auto l = lock();
    return descriptionHead() + ", value: " + onOff(valueLocked()) +
           " supported: " + std::string(caseName(supportStatus_));
}

std::string BinaryPID::valueAsText(bool) const {
    auto l = lock();
    if (auto text = unsupportedText()) return *text;
    return onOff(valueLocked());
}

}  // namespace qz
