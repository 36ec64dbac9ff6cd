#pragma once

#include "api/PIDs/BinaryIndexedPID.hpp"
#include "api/Utils/ByteBits.hpp"

namespace qz {

// An enumerated value whose index is the number held in a group of bits of one byte.
template <CaseIndexable E>
class BinarySumPID : public BinaryIndexedPID<E> {
  public:
    // `bitsToRead` absent: the whole byte, 0...7.
    BinarySumPID(Mode mode, uint64_t pid, std::string fullName, std::string shortName,
                 int64_t responseBytes, int64_t byteToRead, std::optional<ClosedRange> bitsToRead,
                 std::optional<int64_t> supportBit)
        : BinaryIndexedPID<E>(mode, pid, std::move(fullName), std::move(shortName), responseBytes,
                              byteToRead, 0, supportBit, bitsToRead.value_or(ClosedRange{0, 7})) {}
    BinarySumPID(Mode mode, const PIDRow& row)
        : BinarySumPID(mode, row.pid, std::string(row.fullName), std::string(row.shortName),
                       row.responseBytes, row.byte, row.bits, row.supportBit) {}

    // The bits whose number is the case's index.
    ClosedRange bitsToRead() const { return this->bitsToRead_; }

  protected:
    E decodeLocked() const override {
        auto byte = this->fieldByteLocked();
        if (!byte) return defaultValue<E>();
        return caseAt<E>(*bits(*byte, this->bitsToRead_.lowerBound, this->bitsToRead_.upperBound));
    }
};

}  // namespace qz
