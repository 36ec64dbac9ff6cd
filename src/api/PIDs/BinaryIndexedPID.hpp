#pragma once

#include "api/PIDs/Enums/PIDEnum.hpp"
#include "api/PIDs/HexText.hpp"
#include "api/PIDs/Mode1/PIDRow.hpp"
#include "api/PIDs/PID.hpp"

namespace qz {

// An enumerated value named by the lowest set bit of one byte, counted from a starting bit. Never
// absent: an answer that selects no case gives the enumeration's default.
template <CaseIndexable E>
class BinaryIndexedPID : public PID<E> {
  public:
    // For the catalogue: the byte `byteToRead`, its case i at bit startingBit + i; or a row of
    // its table.
    BinaryIndexedPID(Mode mode, uint64_t pid, std::string fullName, std::string shortName,
                     int64_t responseBytes, int64_t byteToRead, int64_t startingBit,
                     std::optional<int64_t> supportBit)
        : PID<E>(mode, pid, PIDCategory::string, std::move(fullName), std::move(shortName),
                 responseBytes, ClosedRange{byteToRead, byteToRead}, supportBit),
          startingBit_(startingBit) {
        this->setValueInternal(defaultValue<E>());
    }
    BinaryIndexedPID(Mode mode, const PIDRow& row)
        : BinaryIndexedPID(mode, row.pid, std::string(row.fullName), std::string(row.shortName),
                           row.responseBytes, row.byte, row.bit, row.supportBit) {}

    // The bit of the enumeration's first case.
    int64_t startingBit() const { return startingBit_; }

    // The decoded case (never absent).
    E caseValue() const {
        auto l = this->lock();
        return decodeLocked();
    }

    // "PID: 12, Commanded Secondary Air Status, value: Unknown supported: unknown".
    std::string description() const override {
        auto l = this->lock();
        return this->descriptionHead() + ", value: " + std::string(rawValue(decodeLocked())) +
               " supported: " + std::string(caseName(this->supportStatus_));
    }

    // The case's display text ("Closed loop = ..."); "Unsupported"/"N/A" when not supported.
    std::string valueAsText(bool = false) const override {
        auto l = this->lock();
        if (auto text = this->unsupportedText()) return *text;
        return std::string(rawValue(decodeLocked()));
    }

  protected:
    BinaryIndexedPID(Mode mode, uint64_t pid, std::string fullName, std::string shortName,
                     int64_t responseBytes, int64_t byteToRead, int64_t startingBit,
                     std::optional<int64_t> supportBit, ClosedRange bitsToRead)
        : BinaryIndexedPID(mode, pid, std::move(fullName), std::move(shortName), responseBytes,
                           byteToRead, startingBit, supportBit) {
        bitsToRead_ = bitsToRead;
    }

    std::optional<E> valueLocked() const override { return decodeLocked(); }

    // The byte the value is read from, or nothing when the answer does not hold it.
    std::optional<uint8_t> fieldByteLocked() const {
        return readableByteAt(this->data_, this->bytesToRead_.upperBound);
    }

    virtual E decodeLocked() const {
        auto byte = fieldByteLocked();
        if (!byte) return defaultValue<E>();
        int64_t n = static_cast<int64_t>(caseCount<E>());
        for (int64_t i = startingBit_; i < startingBit_ + n; ++i) {
            if (i >= 0 && i <= 7 && bitAt(*byte, i)) return caseAt<E>(i - startingBit_);
        }
        return defaultValue<E>();
    }

    const int64_t startingBit_;
    ClosedRange bitsToRead_{0, 7};  // used by the bit-field kind
};

}  // namespace qz
