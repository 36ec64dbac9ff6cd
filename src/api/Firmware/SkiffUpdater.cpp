#include "api/Firmware/SkiffUpdater.hpp"

#include "api/Communication/PelkNotifications.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Logging/Log.hpp"
#include "platform/NotificationCenter.hpp"

namespace qz {

Result<std::vector<FirmwareBlock>, FirmwareUpdateError> SkiffUpdater::makeBlocks(const Data& image,
                                                                                 size_t blockSize) {
    if (image.empty() || image.size() % kFrameSize != 0 ||
        image[image.size() - kFrameSize] != kLastFrame)
        return std::unexpected(FirmwareUpdateError::malformedPayload);
    if (blockSize < kFrameSize || blockSize % kFrameSize != 0)
        return std::unexpected(FirmwareUpdateError::setupFailed);
    std::vector<FirmwareBlock> blocks;
    for (size_t at = 0; at < image.size(); at += blockSize) {
        size_t end = std::min(image.size(), at + blockSize);
        FirmwareBlock block{Data(image.begin() + at, image.begin() + end), 0};
        for (size_t f = at; f < end; f += kFrameSize) {
            if (image[f] == kHeaderFrame) ++block.acksExpected;
            // Only the image's last frame may end it: an earlier 0x04 frame would reboot the
            // sensor half-way.
            if (image[f] == kLastFrame && f + kFrameSize != image.size())
                return std::unexpected(FirmwareUpdateError::malformedPayload);
        }
        blocks.push_back(std::move(block));
    }
    return blocks;
}

FirmwareUpdateState SkiffUpdater::writeImage(const std::shared_ptr<Relay>& relay,
                                             const Listener& listener) {
    auto finish = [&](FirmwareUpdateState state) {
        if (listener) listener(state);
        return state;
    };
    auto image = fwData();
    if (!image) {
        Log::e("Tried to install firmware without downloading it first");
        return finish(
            FirmwareUpdateState::updateFailed(FirmwareUpdateError::firmwareNotDownloaded));
    }
    if (!relay || !relay->sensor()) {
        Log::e("Tried to install firmware while disconnected");
        return finish(FirmwareUpdateState::updateFailed(FirmwareUpdateError::notConnected));
    }
    auto blocks = makeBlocks(*image, static_cast<size_t>(PACKET_BLOCK_SIZE));
    if (!blocks) {
        Log::e("Firmware image is malformed: " + describe(blocks.error()));
        return finish(FirmwareUpdateState::updateFailed(blocks.error()));
    }
    if (upgradeHasStarted.exchange(true)) {
        Log::e("Firmware update already running");
        return finish(FirmwareUpdateState::updateFailed(FirmwareUpdateError::setupFailed));
    }

    // Shared with the observer, which a post on another thread may still be running.
    auto disconnectedFlag = std::make_shared<std::atomic<bool>>(false);
    auto& disconnected = *disconnectedFlag;
    auto& center = NotificationCenter::defaultCenter();
    auto token =
        center.addObserver(PelkNotifications::SENSOR_DISCONNECTED,
                           [disconnectedFlag](const Notification&) { *disconnectedFlag = true; });
    std::optional<FirmwareUpdateError> failure;
    for (size_t i = 0; i < blocks->size() && !failure; ++i) {
        if (disconnected) {
            failure = FirmwareUpdateError::unexpectedDisconnect;
            break;
        }
        const auto& block = (*blocks)[i];
        auto written = relay->writeFw(block.data, block.acksExpected);
        if (!written) {
            if (disconnected)
                failure = FirmwareUpdateError::unexpectedDisconnect;
            else if (written.error() == CommError::timedOut)
                failure = FirmwareUpdateError::timeOut;
            else
                failure = FirmwareUpdateError::notConnected;
            Log::e("Firmware block " + std::to_string(i + 1) + " of " +
                   std::to_string(blocks->size()) + " failed: " + describe(written.error()));
            break;
        }
        if (listener)
            listener(FirmwareUpdateState::updateProgress(static_cast<float>(i + 1) /
                                                         static_cast<float>(blocks->size())));
    }
    center.removeObserver(token);
    upgradeHasStarted = false;
    if (failure) return finish(FirmwareUpdateState::updateFailed(*failure));
    Log::i("Firmware update complete");
    return finish(FirmwareUpdateState::updateComplete());
}

}  // namespace qz
