#include "api/Firmware/SkiffUpdater.hpp"

#include <condition_variable>
#include <string_view>

#include "api/Communication/MFISessionController.hpp"
#include "api/Communication/PelkNotifications.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/Gateway/Gateway.hpp"
#include "api/Logging/Log.hpp"
#include "platform/Clock.hpp"
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

    auto failure = writeBlocks(relay, *blocks, listener, nullptr);
    upgradeHasStarted = false;
    if (failure) return finish(FirmwareUpdateState::updateFailed(*failure));
    Log::i("Firmware update complete");
    return finish(FirmwareUpdateState::updateComplete());
}

// One update's state, shared between the worker on "GatewayQueue" and the session
// callbacks on the main queue.
struct SkiffUpdater::Run {
    enum class Phase { entering, awaitingLoader, writing, rebooting, ended };

    std::mutex mutex;
    std::condition_variable cv;
    Phase phase = Phase::entering;
    bool opening = false;   // the loader's firmware session was asked for
    bool rebooted = false;  // the image was taken and the sensor restarts
    std::optional<SensorConnectionStatus> loaderStatus;
    bool disappeared = false;
    bool disconnected = false;  // "DeviceDisconnected" while writing

    template <class F>
    void update(F&& f) {
        {
            std::lock_guard lock(mutex);
            f();
        }
        cv.notify_all();
    }
    bool waitFor(double seconds, const std::function<bool()>& pred) {
        std::unique_lock lock(mutex);
        return Clock::current()->waitFor(lock, cv, seconds, pred);
    }
    bool lost() {
        std::lock_guard lock(mutex);
        return disconnected || disappeared;
    }
};

const Data& SkiffUpdater::recoveryProbe() {
    static const Data probe = [] {
        Data d{0x14};
        for (char c : std::string_view("Recovery Mode?")) d.push_back(static_cast<uint8_t>(c));
        return d;
    }();
    return probe;
}

std::optional<FirmwareUpdateError> SkiffUpdater::writeBlocks(
    const std::shared_ptr<Relay>& relay, const std::vector<FirmwareBlock>& blocks,
    const Listener& listener, const std::shared_ptr<Run>& given) {
    auto run = given ? given : std::make_shared<Run>();
    run->update([&] { run->phase = Run::Phase::writing; });
    auto& center = NotificationCenter::defaultCenter();
    // The observer may still be running on another thread after it is removed: it holds
    // the run, not this frame.
    auto token =
        center.addObserver(PelkNotifications::SENSOR_DISCONNECTED, [run](const Notification&) {
            run->update([&] {
                if (run->phase == Run::Phase::writing) run->disconnected = true;
            });
        });
    std::optional<FirmwareUpdateError> failure;
    for (size_t i = 0; i < blocks.size(); ++i) {
        if (run->lost()) {
            failure = FirmwareUpdateError::unexpectedDisconnect;
            break;
        }
        const auto& block = blocks[i];
        auto written = relay->writeFw(block.data, block.acksExpected);
        if (!written) {
            if (run->lost())
                failure = FirmwareUpdateError::unexpectedDisconnect;
            else if (written.error() == CommError::timedOut)
                failure = FirmwareUpdateError::timeOut;
            else
                failure = FirmwareUpdateError::notConnected;
            Log::e("Firmware block " + std::to_string(i + 1) + " of " +
                   std::to_string(blocks.size()) + " failed: " + describe(written.error()));
            break;
        }
        if (listener)
            listener(FirmwareUpdateState::updateProgress(static_cast<float>(i + 1) /
                                                         static_cast<float>(blocks.size())));
    }
    center.removeObserver(token);
    return failure;
}

void SkiffUpdater::startUpdate(const std::shared_ptr<Vehicle>& vehicle, Listener listener) {
    auto refuse = [&](FirmwareUpdateError error) {
        if (listener) listener(FirmwareUpdateState::updateFailed(error));
    };
    auto image = fwData();
    if (!image) {
        Log::e("Tried to install firmware without downloading it first");
        refuse(FirmwareUpdateError::firmwareNotDownloaded);
        return;
    }
    auto relay = vehicle ? vehicle->relay() : nullptr;
    auto controller = relay ? relay->bt() : nullptr;
    auto active = controller ? controller->activeSensor() : nullptr;
    auto mfi = controller ? controller->mfiController() : nullptr;
    if (!active || !active->sensorType().isMfi() || !mfi || !mfi->session() || !relay->sensor()) {
        Log::e("Tried to install firmware while disconnected");
        refuse(FirmwareUpdateError::notConnected);
        return;
    }
    auto blocks = makeBlocks(*image, static_cast<size_t>(PACKET_BLOCK_SIZE));
    if (!blocks) {
        Log::e("Firmware image is malformed: " + describe(blocks.error()));
        refuse(blocks.error());
        return;
    }
    // The worker keeps the updater; one not held by a shared_ptr cannot hand itself over.
    auto self = weak_from_this().lock();
    if (!self) {
        Log::e("Firmware updater is not shared, cannot start the update");
        refuse(FirmwareUpdateError::setupFailed);
        return;
    }
    if (upgradeHasStarted.exchange(true)) {
        Log::e("Firmware update already running");
        refuse(FirmwareUpdateError::setupFailed);
        return;
    }
    Gateway::gatewayQueue()->async(
        [self, relay, blocks = std::move(*blocks), listener = std::move(listener)] {
            self->runUpdate(relay, blocks, listener);
        });
}

std::optional<FirmwareUpdateError> SkiffUpdater::enterLoader(const std::shared_ptr<Relay>& relay,
                                                             const std::shared_ptr<Run>& run) {
    auto probe = relay->sendFwModeCommand(recoveryProbe());
    if (probe && *probe == "s") {
        inRecovery = true;
        Log::i("Sensor is in its firmware loader");
        return std::nullopt;
    }
    inRecovery = false;
    run->update([&] { run->phase = Run::Phase::awaitingLoader; });
    auto answer = relay->sendToSensor(kEnterLoaderCommand);
    if (!answer) {
        Log::e("Sensor did not answer " + std::string(kEnterLoaderCommand) + ": " +
               describe(answer.error()));
        return answer.error() == CommError::timedOut ? FirmwareUpdateError::timeOut
                                                     : FirmwareUpdateError::notConnected;
    }
    if (answer->find("OK") == std::string::npos) {
        Log::e("Sensor refused to enter its firmware loader: " + *answer);
        return FirmwareUpdateError::setupFailed;
    }
    Log::i("Sensor is restarting into its firmware loader");
    // Releasing the link lets the sensor restart; the loader's `appeared` opens the
    // firmware session.
    relay->bt()->disconnect(false);
    if (!run->waitFor(loaderWaitSeconds.load(), [&] { return run->loaderStatus.has_value(); })) {
        Log::e("Firmware loader did not appear");
        return FirmwareUpdateError::timeOut;
    }
    std::lock_guard lock(run->mutex);
    if (*run->loaderStatus != SensorConnectionStatus::connected) {
        Log::e("Could not open the firmware session");
        return FirmwareUpdateError::setupFailed;
    }
    Log::i("Firmware session open");
    return std::nullopt;
}

FirmwareUpdateState SkiffUpdater::runUpdate(const std::shared_ptr<Relay>& relay,
                                            const std::vector<FirmwareBlock>& blocks,
                                            const Listener& listener) {
    auto controller = relay->bt();
    auto mfi = controller->mfiController();
    auto run = std::make_shared<Run>();
    std::weak_ptr<SessionController> weakController = controller;
    BroadcastListener callback = [run, weakController](std::shared_ptr<PelkSensor> sensor,
                                                       BroadcastStatus status) {
        auto controller = weakController.lock();
        if (!controller) return;
        auto mfi = controller->mfiController();
        if (status == BroadcastStatus::disappeared) {
            Log::i("Sensor disappeared during the firmware update");
            controller->setAutoReconnect(true);
            if (mfi) mfi->setAutoReconnect(true);
            run->update([&] { run->disappeared = true; });
            return;
        }
        bool openLoader = false;
        bool reconnect = false;
        {
            std::lock_guard lock(run->mutex);
            if (run->phase == Run::Phase::awaitingLoader && !run->opening)
                openLoader = run->opening = true;
            else if (run->rebooted)
                reconnect = true;
        }
        if (openLoader) {
            Log::i("Firmware loader appeared, opening firmware session");
            controller->openSession(sensor, true, [run](SensorConnectionStatus status) {
                run->update([&] { run->loaderStatus = status; });
            });
        } else if (reconnect && mfi) {
            // Back before autoReconnect took effect: the session it would have opened.
            Log::i("Sensor is back after the firmware update");
            controller->setAutoReconnect(false);
            mfi->setAutoReconnect(false);
            controller->openSession(sensor, false, mfi->statusListener());
        }
    };
    controller->setFirmwareBroadcastListener(callback);
    if (mfi) mfi->setFirmwareBroadcastListener(callback);

    std::optional<FirmwareUpdateError> failure = enterLoader(relay, run);
    if (!failure) failure = writeBlocks(relay, blocks, listener, run);
    if (!failure) {
        run->update([&] {
            run->phase = Run::Phase::rebooting;
            run->rebooted = true;
        });
        Log::i("Firmware written, waiting for the sensor to restart");
        if (!run->waitFor(rebootWaitSeconds.load(), [&] { return run->disappeared; })) {
            Log::e("Sensor did not restart after the firmware update");
            failure = FirmwareUpdateError::timeOut;
        }
    }
    run->update([&] { run->phase = Run::Phase::ended; });
    controller->setFirmwareBroadcastListener({});
    controller->setFirmwareStatusListener({});
    if (mfi) {
        mfi->setFirmwareBroadcastListener({});
        mfi->setFirmwareStatusListener({});
    }
    upgradeHasStarted = false;
    FirmwareUpdateState state = FirmwareUpdateState::updateComplete();
    if (failure) {
        Log::e("Firmware update failed: " + describe(*failure));
        state = FirmwareUpdateState::updateFailed(*failure);
    } else {
        Log::i("Firmware update complete");
    }
    if (listener) listener(state);
    return state;
}

}  // namespace qz
