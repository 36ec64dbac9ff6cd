#include "api/PIDs/SpecialPIDClasses.hpp"

#include "api/PIDs/HexText.hpp"

namespace qz {

void CoarseScaleSupportPID::setSupportedViaSupportBit() {
    auto l = lock();
    auto bit = supportBit();
    if (!bit || data_.empty()) return;
    auto first = parseByte(data_[0]);
    if (first && bitAt(*first, *bit) && *bit <= 7) {
        supportStatus_ = SupportStatus::supported;
        scalar_ = 1.0;
    } else if (first && bitAt(*first, *bit + scaleBitDistance()) &&
               *bit + scaleBitDistance() <= 7) {
        supportStatus_ = SupportStatus::supported;
        scalar_ = coarseScale();
    } else {
        supportStatus_ = SupportStatus::unsupported;
    }
    maxValue_ = computedMaxLocked();
}

std::optional<Measurement> NumericPIDValueUnavailableIfMaxxed::valueLocked() const {
    auto v = NumericPID::valueLocked();
    if (v && v->value == maxValue_) return std::nullopt;
    return v;
}

std::optional<Measurement> NoXConcentrationPIDBase::valueLocked() const {
    auto bit = supportBit();
    if (bit && !data_.empty()) {
        if (auto first = parseByte(data_[0])) {
            if (bitAt(*first, *bit + 4)) return std::nullopt;
        }
    }
    return NumericPID::valueLocked();
}

void ReportedMaximumScaledPID::rescale(double scalar) {
    auto l = lock();
    scalar_ = scalar;
    maxValue_ = computedMaxLocked();
}

void ReportedMaximumScaledPID::rescaleKeepingOffsetSteps(double scalar) {
    auto l = lock();
    // A zero scale has no steps to keep: the offset stays as it is.
    if (scalar_ != 0.0) offset_ = offset_ / scalar_ * scalar;
    scalar_ = scalar;
    maxValue_ = computedMaxLocked();
    minValue_ = offset_;
}

}  // namespace qz
