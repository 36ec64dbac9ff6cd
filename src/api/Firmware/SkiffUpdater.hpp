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
class SkiffUpdater {
  public:
    static constexpr size_t kFrameSize = 15;
    static constexpr uint8_t kHeaderFrame = 0x01;
    static constexpr uint8_t kLastFrame = 0x04;

    // The image cut into blocks of `blockSize` bytes (a multiple of the frame size; the
    // last block may be shorter), with the acknowledgements each earns.
    static Result<std::vector<FirmwareBlock>, FirmwareUpdateError> makeBlocks(const Data& image,
                                                                              size_t blockSize);

    using Listener = std::function<void(FirmwareUpdateState)>;

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

  private:
    mutable std::mutex mutex_;
    std::optional<Data> fwData_;

  public:
    const int64_t PACKET_BLOCK_SIZE;
    std::atomic<bool> upgradeHasStarted;
    std::atomic<bool> inRecovery;
};

}  // namespace qz
