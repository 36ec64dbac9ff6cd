#pragma once

#include <atomic>
#include <mutex>
#include <optional>

#include "platform/Result.hpp"

namespace qz {

// The sensor firmware updater: keeps the downloaded image until it is written to the
// sensor.
class SkiffUpdater {
  public:
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
