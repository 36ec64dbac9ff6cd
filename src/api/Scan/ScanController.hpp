#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "api/Scan/PelkModule.hpp"
#include "api/Scan/PelkScanProgress.hpp"
#include "api/Scan/PelkScanType.hpp"
#include "lib/Scanning/QZEnhancedScanner.hpp"
#include "platform/NotificationCenter.hpp"

namespace qz {

// Runs one scan: drives the engine's scanner as its delegate, turns each module record it
// reports into a PelkModule (codes with descriptions and statuses), remembers the record in
// InstanceStorage for a later clear, and reports progress, interactions and the result to the
// listener.
//
// Threads: load() and start() run on the caller's (the gateway's) queue and block for the whole
// scan; modules arrive on the main queue; "PelkInteractionRequired" on the poster's
// thread. The module list is guarded; the listener is never called under a lock.
class ScanController : public QZEEnhancedScannerDelegate,
                       public std::enable_shared_from_this<ScanController> {
  public:
    using Listener = std::function<void(PelkScanProgress)>;

    // Subscribes to "PelkInteractionRequired" (any sender).
    static std::shared_ptr<ScanController> create(std::optional<std::string> vin,
                                                  PelkScanType scanType, Listener scanListener);
    // Writes "Scan controller deinit" and unsubscribes.
    ~ScanController() override;
    ScanController(const ScanController&) = delete;
    ScanController& operator=(const ScanController&) = delete;

    // The engine's scan type: cel 0 (check engine), cdl 2 (quick), all 1 (full).
    static int64_t engineScanType(PelkScanType type);

    // Makes the engine scanner and loads the scan; the module reads expected, 0 on failure.
    int64_t load();
    // Runs the scan and reports its result (nothing when not loaded). Returns after every
    // module report the engine queued on the main queue has arrived, so the result holds them
    // all. Called off the main queue.
    void start();

    // QZEEnhancedScannerDelegate.
    void scannedModule(const QZEModuleDataPtr& module) override;
    // Relays the request as `custom`; the app's answer lets the engine go on.
    void interactionRequired(const std::string& message) override;
    void interactionNotificationReceived(const Notification& notification);

    // The scan is over: no further prompt reaches the listener, and an answer to an earlier
    // one no longer lets any scan go on.
    void stopObserving();

    const std::optional<std::string>& vin() const { return vin_; }
    PelkScanType scanType() const { return scanType_; }
    bool errorDuringScan() const { return errorDuringScan_.load(); }
    std::shared_ptr<QZEnhancedScanner> scanner() const;
    int64_t totalModules() const;
    int64_t scannedModuleCount() const;
    PelkModules scannedModules() const;
    const std::vector<std::string>& noCodeDescriptionStrings() const {
        return noCodeDescriptionStrings_;
    }

  private:
    ScanController(std::optional<std::string> vin, PelkScanType scanType, Listener listener);
    // The public module of a record that answered, or null (logged).
    std::shared_ptr<PelkModule> moduleFrom(const QZEModuleData& record) const;

    const std::optional<std::string> vin_;
    const PelkScanType scanType_;
    const Listener listener_;
    std::atomic<bool> errorDuringScan_{false};
    std::atomic<bool> finished_{false};
    const std::vector<std::string> noCodeDescriptionStrings_{"no description available",
                                                             "check report for description"};
    ObserverToken observer_ = 0;

    mutable std::mutex mutex_;  // guards the fields below
    std::shared_ptr<QZEnhancedScanner> scanner_;
    int64_t totalModules_ = 0;
    int64_t scannedModuleCount_ = 0;
    PelkModules scannedModules_;
    bool resultTaken_ = false;  // the result is made: modules delivered later are none of it
};

}  // namespace qz
