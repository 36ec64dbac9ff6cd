#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "api/Firmware/FirmwareUpdateError.hpp"
#include "api/Firmware/FirmwareUpdateState.hpp"
#include "platform/Result.hpp"

namespace qz {

class Relay;
class Vehicle;

// One write of a firmware update: whole frames and the 'C' acknowledgements they earn.
struct FirmwareBlock {
    Data data;
    int64_t acksExpected = 0;

    bool operator==(const FirmwareBlock&) const = default;
};

// The sensor firmware updater: keeps the downloaded image until it is written to the
// sensor.
//
// Block and acknowledgement scheme. The firmware server delivers the image already cut
// into raw 15-byte frames; the first byte of each frame is its kind:
//   0x01  a record header: the sensor answers 'C' once it has taken the record;
//   0x04  the last frame of the image: answered 'D', after which the sensor reboots;
//   other data frames: answered 'K'.
// The image is written PACKET_BLOCK_SIZE bytes (25 frames) at a time through the
// relay's firmware write, which waits until every frame of the block is acknowledged:
// acksExpected 'C's (the headers in the block) and one 'K' or 'D' for every other frame.
// A block whose acknowledgements do not all arrive in time ends the update with timeOut.
// An image that is empty, not whole frames, or does not end with a 0x04 frame (and only
// there) is malformedPayload and nothing is written.
//
// Update sequence (`startUpdate`), on "GatewayQueue":
//  1. The worker installs its appeared/disappeared callback as firmwareBroadcastListener
//     of the session controller and of the MFi session, so every broadcast of the update
//     reaches it instead of the app.
//  2. Firmware mode. The recovery probe (0x14 "Recovery Mode?") is sent as one raw frame:
//     a sensor already in its loader (recovery) answers "s" and takes the blocks on the
//     open session (inRecovery). Otherwise the worker sends "KQFW"; the sensor answers
//     "OK" and waits for the host to release the link. The worker closes the session
//     without a `disconnected` report; the sensor then restarts into its loader, which
//     drops the old accessory (no longer the session's, so nothing is broadcast) and
//     connects as a new accessory. Its `appeared` makes the callback open a firmware
//     session (`openSession(sensor:fwSession:true,with:)`, own status callback); the
//     worker goes on once that reports `connected` (errorOpeningConnection: setupFailed;
//     no loader within loaderWaitSeconds: timeOut; "KQFW" refused: setupFailed). Only the
//     first `appeared` while the loader is awaited opens a session: one during the
//     transfer would close the session that carries it.
//  3. The blocks are written as above, with updateProgress after each. A
//     "DeviceDisconnected" or `disappeared` before the last block is acknowledged is
//     unexpectedDisconnect.
//  4. Reboot. After the 'D' of the last frame the sensor restarts into the new firmware:
//     its accessory drops (the firmware session closes without a `disconnected` report)
//     and `disappeared` makes the callback set autoReconnect on the controller and the MFi
//     session; the sensor's next connect then gets an ordinary session with the app's
//     status listener, and the gateway initialises it as after any connect. The update is
//     complete once `disappeared` is heard (none within rebootWaitSeconds: timeOut). A
//     rebooted sensor broadcast as `appeared` before autoReconnect took effect is given
//     that ordinary session by the callback itself. A sensor updated from recovery used
//     its ordinary session, so there the app hears the drop as a disconnect.
//  5. Whatever the outcome, firmwareBroadcastListener and firmwareStatusListener are
//     cleared on both, then the listener hears the final state.
class SkiffUpdater : public std::enable_shared_from_this<SkiffUpdater> {
  public:
    static constexpr size_t kFrameSize = 15;
    static constexpr uint8_t kHeaderFrame = 0x01;
    static constexpr uint8_t kLastFrame = 0x04;

    // The image cut into blocks of `blockSize` bytes (a multiple of the frame size; the
    // last block may be shorter), with the acknowledgements each earns.
    static Result<std::vector<FirmwareBlock>, FirmwareUpdateError> makeBlocks(const Data& image,
                                                                              size_t blockSize);

    using Listener = std::function<void(FirmwareUpdateState)>;

    // The command that sends a sensor in command mode into its firmware loader.
    static constexpr const char* kEnterLoaderCommand = "KQFW";
    // The recovery probe frame.
    static const Data& recoveryProbe();

    // Starts writing the kept image into the sensor behind `vehicle`'s relay and returns at
    // once (sequence above). Refused at once, on the calling thread: no image
    // (firmwareNotDownloaded), no link or a BLE sensor (notConnected), a malformed image
    // (malformedPayload), an update already running (setupFailed). Otherwise the listener
    // hears progress and the outcome on "GatewayQueue".
    void startUpdate(const std::shared_ptr<Vehicle>& vehicle, Listener listener);

    // Writes the kept image into the sensor through the relay, block by block, and blocks
    // the calling thread until the last block is acknowledged (the caller runs it on
    // "GatewayQueue"). The listener hears updateProgress after every block, then
    // updateComplete; or one updateFailed: firmwareNotDownloaded (no image),
    // malformedPayload, notConnected (no relay or no sensor link), timeOut (a block not
    // fully acknowledged in time), unexpectedDisconnect ("DeviceDisconnected" before the
    // last block was acknowledged), setupFailed (an update already running). Returns the
    // final state.
    FirmwareUpdateState writeImage(const std::shared_ptr<Relay>& relay, const Listener& listener);

    SkiffUpdater(std::optional<Data> fwData = std::nullopt, int64_t packetBlockSize = 375,
                 bool upgradeHasStarted = false, bool inRecovery = false)
        : fwData_(std::move(fwData)),
          PACKET_BLOCK_SIZE(packetBlockSize),
          upgradeHasStarted(upgradeHasStarted),
          inRecovery(inRecovery) {}

    // The downloaded image (guarded: the download completes on the URL session's thread).
    std::optional<Data> fwData() const {
        std::lock_guard lock(mutex_);
        return fwData_;
    }
    void setFwData(std::optional<Data> data) {
        std::lock_guard lock(mutex_);
        fwData_ = std::move(data);
    }

    // How long (clock seconds) the loader may take to appear with its firmware session,
    // and the sensor to restart after the last block.
    std::atomic<double> loaderWaitSeconds{30.0};
    std::atomic<double> rebootWaitSeconds{30.0};

  private:
    struct Run;
    FirmwareUpdateState runUpdate(const std::shared_ptr<Relay>& relay,
                                  const std::vector<FirmwareBlock>& blocks,
                                  const Listener& listener);
    std::optional<FirmwareUpdateError> enterLoader(const std::shared_ptr<Relay>& relay,
                                                   const std::shared_ptr<Run>& run);
    std::optional<FirmwareUpdateError> writeBlocks(const std::shared_ptr<Relay>& relay,
                                                   const std::vector<FirmwareBlock>& blocks,
                                                   const Listener& listener,
                                                   const std::shared_ptr<Run>& run);

    mutable std::mutex mutex_;
    std::optional<Data> fwData_;

  public:
    const int64_t PACKET_BLOCK_SIZE;
    std::atomic<bool> upgradeHasStarted;
    std::atomic<bool> inRecovery;
};

}  // namespace qz
