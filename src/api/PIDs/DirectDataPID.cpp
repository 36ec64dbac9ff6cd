#include "api/PIDs/DirectDataPID.hpp"

namespace qz {

DirectDataPID::DirectDataPID(Mode mode, uint64_t pid, PIDCategory category, std::string fullName,
                             std::string shortName, int64_t responseBytes,
                             std::optional<ClosedRange> bytesToRead,
                             std::optional<int64_t> supportBit)
    : PID(mode, pid, category, std::move(fullName), std::move(shortName), responseBytes,
          bytesToRead, supportBit) {}

DirectDataPID::DirectDataPID(Mode mode, const PIDRow& row)
    : DirectDataPID(mode, row.pid, PIDCategory::other, std::string(row.fullName),
                    std::string(row.shortName), row.responseBytes, row.bytes, row.supportBit) {}

std::optional<std::vector<uint8_t>> DirectDataPID::valueLocked() const {
    return readableBytes(data_);
}

std::string DirectDataPID::description() const {
    auto l = lock();
    std::string joined;
    for (size_t i = 0; i < data_.size(); ++i) {
        if (i) joined += ' ';
        joined += data_[i];
    }
    return descriptionHead() + ", value: " + joined +
           " supported: " + std::string(caseName(supportStatus_));
}

}  // namespace qz
