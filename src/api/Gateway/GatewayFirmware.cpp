// The firmware family: the gateway hands the work over to the firmware server client and
// the updater; BLE sensors are refused.

#include "api/Communication/Relay.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/Firmware/SkiffUpdater.hpp"
#include "api/Firmware/SkiffWeb.hpp"
#include "api/Gateway/Gateway.hpp"
#include "api/Logging/Log.hpp"
#include "platform/Describe.hpp"

namespace qz {

namespace {

constexpr const char* kAppVersion = "1.6.194";

}  // namespace

void Gateway::requestLatestServerFirmware(VersionListener listener) {
    Log::PublicFuncCall({"listener:" + describe(listener)});
    if (activeSensorIsLe()) {
        if (listener) listener(std::unexpected(FirmwareError::notSupported()));
        return;
    }
    SkiffWeb::requestServerVersion(kAppVersion, currentVersionText(), false, std::move(listener));
}

void Gateway::downloadFirmware(const std::string& versionKey, DownloadListener listener) {
    Log::PublicFuncCall({"versionKey:" + versionKey, "listener:" + describe(listener)});
    Log::i("Downloading firmware for version key: " + versionKey);
    auto report = [listener](FirmwareDownloadState state) {
        if (listener) listener(std::move(state));
    };
    if (activeSensorIsLe()) {
        Log::e("Could not download firmware as current sensor is incompatible");
        report(FirmwareDownloadState::firmwareDownloadCompleted(
            FirmwareDownloadStatus::downloadFailed(FirmwareError::notSupported())));
        return;
    }
    report(FirmwareDownloadState::firmwareDownloadStarted());
    std::weak_ptr<SkiffUpdater> updater = firmwareUpdater_;
    SkiffWeb::downloadFirmware(kAppVersion, "recent", currentVersionText(), false,
                               [updater, report](Result<Data, FirmwareError> result) {
                                   if (!result) {
                                       report(FirmwareDownloadState::firmwareDownloadCompleted(
                                           FirmwareDownloadStatus::downloadFailed(result.error())));
                                       return;
                                   }
                                   if (auto u = updater.lock()) u->setFwData(std::move(*result));
                                   report(FirmwareDownloadState::firmwareDownloadCompleted(
                                       FirmwareDownloadStatus::downloadComplete()));
                               });
}

void Gateway::startFirmwareUpdate(UpdateListener listener) {
    Log::PublicFuncCall({"listener:" + describe(listener)});
    if (activeSensorIsLe()) {
        Log::e(
            "Tried to update firmware on an LE sensor which is not supported by the library at "
            "this time");
        if (listener) listener(FirmwareUpdateState::notSupported());
        return;
    }
    firmwareUpdater_->startUpdate(vehicle_, std::move(listener));
}

}  // namespace qz
