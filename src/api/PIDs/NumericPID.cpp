#include "api/PIDs/NumericPID.hpp"

#include <algorithm>
#include <cmath>

#include "api/PIDs/HexText.hpp"
#include "api/PIDs/Units.hpp"

namespace qz {
namespace {

double fullScale(int64_t byteCount, double scalar, double offset) {
    // 2^(8n) - 1 in floating point: no integer shift past 64 bits.
    double steps =
        std::ldexp(1.0, static_cast<int>(std::clamp<int64_t>(8 * byteCount, 0, 2048))) - 1.0;
    return steps * scalar + offset;
}

}  // namespace

NumericPID::NumericPID(Mode mode, uint64_t pid, std::string fullName, std::string shortName,
                       int64_t responseBytes, std::optional<ClosedRange> bytesToRead,
                       std::optional<int64_t> supportBit, const Dimension* units,
                       const Dimension* imperialUnits, std::optional<double> minValue,
                       std::optional<double> maxValue, double scalar, double offset)
    : PID(mode, pid, PIDCategory::numeric, std::move(fullName), std::move(shortName), responseBytes,
          bytesToRead, supportBit),
      minValue_(minValue.value_or(offset)),
      maxValue_(maxValue.value_or(
          fullScale(bytesToRead ? bytesToRead->count() : responseBytes, scalar, offset))),
      scalar_(scalar),
      offset_(offset),
      units_(units),
      altUnit_(imperialUnits) {}

NumericPID::NumericPID(Mode mode, const PIDRow& row)
    : NumericPID(mode, row.pid, std::string(row.fullName), std::string(row.shortName),
                 row.responseBytes, row.bytes, row.supportBit, unitFor(row.units),
                 unitFor(row.altUnit), row.minValue, row.maxValue, row.scalar, row.offset) {}

double NumericPID::minValue() const {
    return locked(minValue_);
}
void NumericPID::setMinValue(double v) {
    setLocked(minValue_, v);
}
double NumericPID::maxValue() const {
    return locked(maxValue_);
}
void NumericPID::setMaxValue(double v) {
    setLocked(maxValue_, v);
}
double NumericPID::scalar() const {
    return locked(scalar_);
}
void NumericPID::setScalar(double v) {
    setLocked(scalar_, v);
}
double NumericPID::offset() const {
    return locked(offset_);
}
void NumericPID::setOffset(double v) {
    setLocked(offset_, v);
}

double NumericPID::computedMaxLocked() const {
    return fullScale(bytesToRead_.count(), scalar_, offset_);
}

Measurement NumericPID::measure(double raw) const {
    const Dimension* unit = units_ ? units_ : &UnitNone::none();
    return Measurement{raw * scalar_ + offset_, unit};
}

std::optional<std::string> NumericPID::joinedBytesLocked() const {
    if (data_.empty()) return std::nullopt;
    auto [lower, upper] = bytesToRead_;
    if (lower < 0 || upper < lower || upper >= static_cast<int64_t>(data_.size()))
        return std::nullopt;
    std::string joined;
    for (int64_t i = lower; i <= upper; ++i) {
        // An empty byte text is a missing byte, not a shorter number.
        if (data_[i].empty()) return std::nullopt;
        joined += data_[i];
    }
    return joined;
}

std::optional<uint64_t> NumericPID::joinedNumberLocked() const {
    if (data_.empty()) return std::nullopt;
    auto [lower, upper] = bytesToRead_;
    if (lower < 0 || upper < lower || upper >= static_cast<int64_t>(data_.size()))
        return std::nullopt;
    uint64_t v = 0;
    if (upper - lower < 8) {
        // At most eight byte texts of two digits each: at most 16 digits, no count needed.
        bool bytes = true;
        for (int64_t i = lower; i <= upper && bytes; ++i) {
            const std::string& text = data_[i];
            const int high = text.size() == 2 ? hexDigitValue(text[0]) : -1;
            const int low = text.size() == 2 ? hexDigitValue(text[1]) : -1;
            bytes = high >= 0 && low >= 0;
            if (bytes) v = v << 8 | static_cast<uint64_t>(high << 4 | low);
        }
        if (bytes) return v;
        v = 0;
    }
    int significant = 0;
    for (int64_t i = lower; i <= upper; ++i) {
        // An empty byte text is a missing byte, not a shorter number.
        if (data_[i].empty()) return std::nullopt;
        for (char ch : data_[i]) {
            const int d = hexDigitValue(ch);
            if (d < 0) return std::nullopt;
            if (significant == 0 && d == 0) continue;
            if (++significant > 16) return std::nullopt;
            v = (v << 4) | static_cast<uint64_t>(d);
        }
    }
    return v;
}

std::optional<Measurement> NumericPID::valueLocked() const {
    auto raw = joinedNumberLocked();
    if (!raw) return std::nullopt;
    return measure(static_cast<double>(*raw));
}

std::optional<Measurement> NumericPID::altValueLocked() const {
    auto v = valueLocked();
    if (!v || !altUnit_) return v;
    return v->converted(*altUnit_);
}

std::optional<Measurement> NumericPID::altValue() const {
    auto l = lock();
    return altValueLocked();
}

std::string NumericPID::description() const {
    auto l = lock();
    auto v = valueLocked();
    std::string number = v ? fixedNumberText(v->value) : "N/A";
    std::string symbol = v ? v->unit->symbol() : "N/A";
    return descriptionHead() + ", value: " + number + " units: " + symbol +
           " supported: " + std::string(caseName(supportStatus_));
}

std::string NumericPID::valueAsText(bool useAltValueIfAvailable) const {
    auto l = lock();
    if (supportStatus_ != SupportStatus::supported) return *unsupportedText();
    // Decoded once; the alternative unit is a conversion of the same value.
    std::optional<Measurement> v = valueLocked();
    if (!v) return "N/A";
    if (useAltValueIfAvailable && altUnit_) v = v->converted(*altUnit_);
    const std::string& symbol = v->unit->symbol();
    // Written whole into one buffer, then copied once.
    char buf[kShortestNumberTextMax + 64];
    char* end = writeShortestNumberText(buf, v->value);
    *end++ = ' ';
    if (symbol.size() > static_cast<size_t>(buf + sizeof buf - end))
        return std::string(buf, end) + symbol;
    end = std::copy(symbol.begin(), symbol.end(), end);
    return std::string(buf, end);
}

}  // namespace qz
