#pragma once

#include <optional>
#include <string>

#include "api/Firmware/FirmwareError.hpp"

namespace qz {

// How a firmware download ended.
class FirmwareDownloadStatus {
  public:
    enum class Kind { downloadFailed, downloadComplete };

    static FirmwareDownloadStatus downloadFailed(FirmwareError error) {
        return FirmwareDownloadStatus(Kind::downloadFailed, std::move(error));
    }
    static FirmwareDownloadStatus downloadComplete() {
        return FirmwareDownloadStatus(Kind::downloadComplete, std::nullopt);
    }

    Kind kind() const { return kind_; }
    // The error of downloadFailed.
    const std::optional<FirmwareError>& error() const { return error_; }

    bool operator==(const FirmwareDownloadStatus&) const = default;
    std::string description() const;

  private:
    FirmwareDownloadStatus(Kind kind, std::optional<FirmwareError> error)
        : kind_(kind), error_(std::move(error)) {}
    Kind kind_;
    std::optional<FirmwareError> error_;
};

// What the download listener receives.
class FirmwareDownloadState {
  public:
    enum class Kind { firmwareDownloadCompleted, firmwareDownloadStarted };

    static FirmwareDownloadState firmwareDownloadCompleted(FirmwareDownloadStatus status) {
        return FirmwareDownloadState(Kind::firmwareDownloadCompleted, std::move(status));
    }
    static FirmwareDownloadState firmwareDownloadStarted() {
        return FirmwareDownloadState(Kind::firmwareDownloadStarted, std::nullopt);
    }

    Kind kind() const { return kind_; }
    // The status of firmwareDownloadCompleted.
    const std::optional<FirmwareDownloadStatus>& status() const { return status_; }

    bool operator==(const FirmwareDownloadState&) const = default;
    std::string description() const;

  private:
    FirmwareDownloadState(Kind kind, std::optional<FirmwareDownloadStatus> status)
        : kind_(kind), status_(std::move(status)) {}
    Kind kind_;
    std::optional<FirmwareDownloadStatus> status_;
};

std::string describe(const FirmwareDownloadStatus& status);
std::string describe(const FirmwareDownloadState& state);

}  // namespace qz
