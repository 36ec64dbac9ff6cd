#pragma once

#include <functional>
#include <string>

#include "api/Firmware/FirmwareError.hpp"
#include "platform/Result.hpp"
#include "platform/web/URLResponse.hpp"

namespace qz {

// The client of the sensor firmware server. Both requests are GETs with the query
// fields appVersion, currentVersion (sensor version x 100 in decimal) and isLe
// ("true"/"false"); the download adds versionKey:
//   GET <server>/firmware/version   -> {"version": "4.10"}
//   GET <server>/firmware/download  -> the image bytes
// Completions are called once, on the URL session's callback thread (argument errors:
// at once on the caller's thread).
class SkiffWeb {
  public:
    SkiffWeb() = delete;

    // The production firmware server (scheme and host); a deployment value.
    static constexpr const char* kDefaultServerAddress = "https://firmware.ostrel.com";
    static constexpr double kVersionTimeout = 30.0;
    static constexpr double kDownloadTimeout = 120.0;

    // The server: the one set with setServerAddress, else the environment variable
    // QZ_FIRMWARE_SERVER, else kDefaultServerAddress.
    static std::string serverAddress();
    // Overrides the server address (empty: back to default).
    static void setServerAddress(const std::string& address);

    using VersionCompletion = std::function<void(Result<std::string, FirmwareError>)>;
    using DownloadCompletion = std::function<void(Result<Data, FirmwareError>)>;

    // The newest firmware version text for the app and sensor versions.
    static void requestServerVersion(const std::string& appVersion,
                                     const std::string& currentVersion, bool isLe,
                                     VersionCompletion completion);

    // The firmware image for the version key ("recent" for the newest).
    static void downloadFirmware(const std::string& appVersion, const std::string& versionKey,
                                 const std::string& currentVersion, bool isLe,
                                 DownloadCompletion completion);

    // Transport errors: general with the transport code and text; statuses outside
    // 200-299: invalidResponse with the status.
    static FirmwareError firmwareError(const URLError& error);
};

}  // namespace qz
