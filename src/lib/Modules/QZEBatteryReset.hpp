#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz {

// The outcome of a battery registration.
class QZEBatteryResetResult {
  public:
    bool success() const { return success_; }
    void setSuccess(bool value) { success_ = value; }
    bool engineRunning() const { return engineRunning_; }
    void setEngineRunning(bool value) { engineRunning_ = value; }
    std::optional<std::string> message() const;
    void setMessage(std::optional<std::string> value);

  private:
    std::atomic<bool> success_{false};
    std::atomic<bool> engineRunning_{false};
    mutable std::mutex mutex_;
    std::optional<std::string> message_;
};

// Base of the battery registration procedures.
class QZEBatteryReset {
  public:
    virtual ~QZEBatteryReset() = default;

    // Sends through QZEVehicle without response evaluation, resending at once while the reply
    // holds "NO DATA" or was cut short (at most 3 sends); the last reply's text (empty without
    // an adapter).
    std::string send(const std::string& cmd);
    // Restores the sensor ("KQCM7F8", "KQD", the reply time-out) and returns the same result.
    std::shared_ptr<QZEBatteryResetResult> resetToDefaultsWithResult(
        std::shared_ptr<QZEBatteryResetResult> result);
    // Tokens as the module classes split replies.
    static std::vector<std::string> responseToArray(std::string_view reply);
};

}  // namespace qz
