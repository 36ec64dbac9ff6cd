#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "api/PIDs/ClosedRange.hpp"
#include "api/PIDs/PIDInfo.hpp"

namespace qz {

// A parameter whose value is of type T. `value()` decodes the current data on every read.
template <class T>
class PID : public PIDInfo {
  public:
    // The type of value().
    using Value = T;

    // `bytesToRead` absent: the whole answer, 0...responseBytes-1.
    PID(Mode mode, uint64_t pid, PIDCategory category, std::string fullName, std::string shortName,
        int64_t responseBytes, std::optional<ClosedRange> bytesToRead,
        std::optional<int64_t> supportBit)
        : PIDInfo(mode, pid, std::move(fullName), category, std::move(shortName), responseBytes,
                  supportBit),
          bytesToRead_(bytesToRead.value_or(ClosedRange{0, responseBytes - 1})) {}

    // Indexes into data of the bytes that hold this value; fixed at creation.
    ClosedRange bytesToRead() const { return bytesToRead_; }

    // A value held by the object itself, for kinds that do not decode `data`.
    std::optional<T> valueInternal() const {
        auto l = lock();
        return valueInternal_;
    }
    void setValueInternal(std::optional<T> v) {
        auto l = lock();
        valueInternal_ = std::move(v);
    }

    // The decoded value (absent when it cannot be decoded).
    std::optional<T> value() const {
        auto l = lock();
        return valueLocked();
    }

  protected:
    // Decodes the value; called with lock() held. Kinds replace it.
    virtual std::optional<T> valueLocked() const { return valueInternal_; }

    const ClosedRange bytesToRead_;
    std::optional<T> valueInternal_;
};

// A parameter with a typed value.
template <class P>
concept PIDData = std::derived_from<P, PIDInfo> && requires(const P& p) {
    typename P::Value;
    { p.value() } -> std::same_as<std::optional<typename P::Value>>;
};

// A complete parameter class: built from the mode alone, support readable from its support bit.
// The catalogue holds such objects as shared PIDInfo references.
template <class P>
concept FinalPID = PIDData<P> && std::constructible_from<P, Mode> && requires(P& p) {
    p.setSupportedViaSupportBit();
};

// Parameters whose support and names follow the oxygen-sensor layout the vehicle reports in its
// answers to 01 13 (two banks) and 01 1D (four banks).
class PIDDeterminedByPID13 {
  public:
    virtual ~PIDDeterminedByPID13() = default;
    // Renames the parameter, or marks it unsupported, after the data bytes of 01 13 and 01 1D.
    virtual void conformBasedOnPIDS(const std::vector<uint8_t>& val13,
                                    const std::vector<uint8_t>& val1D) = 0;
};

// Every text of `data` that reads as a byte, in order; the others are left out.
std::vector<uint8_t> readableBytes(const std::vector<std::string>& data);
// readableBytes(data)[index], or nothing when there is no such byte.
std::optional<uint8_t> readableByteAt(const std::vector<std::string>& data, int64_t index);

// Shortest text that reads back as the same double; whole numbers keep ".0" (1726.0).
std::string shortestNumberText(double value);
// Appends shortestNumberText(value) to `out`.
void appendShortestNumberText(std::string& out, double value);
// Room writeShortestNumberText needs at most.
inline constexpr size_t kShortestNumberTextMax = 64;
// Writes shortestNumberText(value) at `out` and returns the end of what it wrote.
char* writeShortestNumberText(char* out, double value);

// printf "%f" of a value (six decimals).
std::string fixedNumberText(double value);

}  // namespace qz
