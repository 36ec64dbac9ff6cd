#pragma once

#include <functional>
#include <string>

#include "api/Firmware/FirmwareDownloadState.hpp"
#include "api/Firmware/FirmwareError.hpp"
#include "api/Firmware/FirmwareUpdateState.hpp"
#include "platform/Result.hpp"

namespace qz {

// The sensor firmware: newest server version, download and update.
class PelkFirmwareDelegate {
  public:
    using VersionListener = std::function<void(Result<std::string, FirmwareError>)>;
    using DownloadListener = std::function<void(FirmwareDownloadState)>;
    using UpdateListener = std::function<void(FirmwareUpdateState)>;

    virtual ~PelkFirmwareDelegate() = default;

    virtual void requestLatestServerFirmware(VersionListener listener) = 0;
    virtual void downloadFirmware(const std::string& versionKey, DownloadListener listener) = 0;
    virtual void startFirmwareUpdate(UpdateListener listener) = 0;
};

}  // namespace qz
