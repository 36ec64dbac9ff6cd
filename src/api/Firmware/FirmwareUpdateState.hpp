#pragma once

#include <string>

#include "api/Firmware/FirmwareUpdateError.hpp"

namespace qz {

// What the update listener receives.
class FirmwareUpdateState {
  public:
    enum class Kind { updateFailed, updateProgress, updateComplete, notSupported };

    static FirmwareUpdateState updateFailed(FirmwareUpdateError error) {
        return FirmwareUpdateState(Kind::updateFailed, error, 0);
    }
    // Progress from 0 to 1.
    static FirmwareUpdateState updateProgress(float progress) {
        return FirmwareUpdateState(Kind::updateProgress, FirmwareUpdateError::malformedPayload,
                                   progress);
    }
    static FirmwareUpdateState updateComplete() {
        return FirmwareUpdateState(Kind::updateComplete, FirmwareUpdateError::malformedPayload, 0);
    }
    static FirmwareUpdateState notSupported() {
        return FirmwareUpdateState(Kind::notSupported, FirmwareUpdateError::malformedPayload, 0);
    }

    Kind kind() const { return kind_; }
    // Meaningful for updateFailed only.
    FirmwareUpdateError error() const { return error_; }
    // Meaningful for updateProgress only.
    float progress() const { return progress_; }

    bool operator==(const FirmwareUpdateState& other) const {
        if (kind_ != other.kind_) return false;
        if (kind_ == Kind::updateFailed) return error_ == other.error_;
        if (kind_ == Kind::updateProgress) return progress_ == other.progress_;
        return true;
    }

    std::string description() const;

  private:
    FirmwareUpdateState(Kind kind, FirmwareUpdateError error, float progress)
        : kind_(kind), error_(error), progress_(progress) {}
    Kind kind_;
    FirmwareUpdateError error_;
    float progress_;
};

std::string describe(const FirmwareUpdateState& state);

}  // namespace qz
