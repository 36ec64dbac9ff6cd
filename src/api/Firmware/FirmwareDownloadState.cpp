#include "api/Firmware/FirmwareDownloadState.hpp"

namespace qz {

std::string FirmwareDownloadStatus::description() const {
    if (kind_ == Kind::downloadComplete) return "downloadComplete";
    return "downloadFailed(" + (error_ ? error_->description() : std::string()) + ")";
}

std::string FirmwareDownloadState::description() const {
    if (kind_ == Kind::firmwareDownloadStarted) return "firmwareDownloadStarted";
    return "firmwareDownloadCompleted(" + (status_ ? status_->description() : std::string()) + ")";
}

std::string describe(const FirmwareDownloadStatus& status) {
    return status.description();
}
std::string describe(const FirmwareDownloadState& state) {
    return state.description();
}

}  // namespace qz
