#pragma once

#include <functional>
#include <string>

#include "api/Firmware/FirmwareDownloadState.hpp"
#include "api/Firmware/FirmwareError.hpp"
#include "api/Firmware/FirmwareUpdateState.hpp"
#include "platform/Result.hpp"

namespace qz {

// The sensor's firmware: the newest version on the firmware server, its download and its
// installation. Only MFi sensors are updated; for a BLE sensor each call answers at once, on
// the caller's thread, with `notSupported`.
class PelkFirmwareDelegate {
  public:
    // The server's newest version text, or why it could not be asked.
    using VersionListener = std::function<void(Result<std::string, FirmwareError>)>;
    // firmwareDownloadStarted, then firmwareDownloadCompleted with the outcome.
    using DownloadListener = std::function<void(FirmwareDownloadState)>;
    // updateProgress (a fraction) as blocks are written, then updateComplete or updateFailed.
    using UpdateListener = std::function<void(FirmwareUpdateState)>;

    virtual ~PelkFirmwareDelegate() = default;

    // Asks the firmware server for the newest version for the connected sensor; `listener`
    // runs once, on the web session's thread.
    virtual void requestLatestServerFirmware(VersionListener listener) = 0;
    // Downloads the newest image and keeps it for startFirmwareUpdate (the key is only logged:
    // the newest image is always fetched). `listener` receives firmwareDownloadStarted before
    // this call returns, then the outcome on the web session's thread.
    virtual void downloadFirmware(const std::string& versionKey, DownloadListener listener) = 0;
    // Writes the downloaded image into the connected MFi sensor on "GatewayQueue": progress,
    // then the end, reach `listener` there. Refused at once (on the caller's thread) without a
    // downloaded image (firmwareNotDownloaded), without a connected MFi sensor (notConnected)
    // or while an update runs (setupFailed).
    virtual void startFirmwareUpdate(UpdateListener listener) = 0;
};

}  // namespace qz
