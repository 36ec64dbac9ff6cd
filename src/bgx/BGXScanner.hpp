#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "bgx/BGXDelegates.hpp"
#include "bgx/BGXTypes.hpp"
#include "platform/DispatchQueue.hpp"
#include "platform/NotificationCenter.hpp"
#include "platform/ble/BleCentral.hpp"

namespace qz {

// The BLE central for BGX13 modules: owns the platform central, scans for the module's
// streaming service and keeps two lists of devices: those seen (and connected), and those
// whose link closed. A device is in at most one of them; a peripheral discovered again while
// its device sits in the second list gets a new device in the first.
//
// Threads: the central calls back on the driver's queue (the main queue unless another is
// given), where all of the driver's state changes happen; the public calls may come from any
// thread and run on that queue (`startScan`, `stopScan`), the accessors read guarded copies.
// The driver's log lines go to the platform console.
class BGXScanner : public BleCentralDelegate, public std::enable_shared_from_this<BGXScanner> {
  public:
    // "Not found" of `indexOfDiscoveredDevice`.
    static constexpr size_t NotFound = static_cast<size_t>(INT64_MAX);

    // A scanner with a new central from the installed factory (see BleCentral.hpp). The
    // delegate is in place before the central reports its first state.
    static std::shared_ptr<BGXScanner> create(
        std::shared_ptr<DispatchQueue> queue = DispatchQueue::main(),
        const std::shared_ptr<BGXScanDelegate>& delegate = nullptr);
    ~BGXScanner() override;
    BGXScanner(const BGXScanner&) = delete;
    BGXScanner& operator=(const BGXScanner&) = delete;

    // Empties both lists except for the devices that are interrogating, connecting or
    // connected, then, when `Idle`, scans for the streaming service. Returns whether it was
    // `Idle`.
    bool startScan();
    // Ends a running scan; returns whether one ran.
    bool stopScan();

    // The index of the first device in `devices` with the peripheral's identifier, or NotFound.
    static size_t indexOfDiscoveredDevice(const BlePeripheral& peripheral,
                                          const std::vector<std::shared_ptr<BGXDevice>>& devices);

    // The central (from the installed factory) and the driver's queue its callbacks run on.
    const std::shared_ptr<BleCentral>& centralManager() const { return manager_; }
    const std::shared_ptr<DispatchQueue>& queue() const { return queue_; }
    // Held weakly: the delegate (the BLE session's bridge) owns the scanner.
    std::shared_ptr<BGXScanDelegate> delegate() const;
    void setDelegate(const std::shared_ptr<BGXScanDelegate>& delegate);
    // Copies of the two lists: the devices seen (and connected), those whose link closed.
    std::vector<std::shared_ptr<BGXDevice>> devicesDiscovered() const;
    std::vector<std::shared_ptr<BGXDevice>> devicesDiscoveredWhichHaveDisconnected() const;
    void setDevicesDiscoveredWhichHaveDisconnected(std::vector<std::shared_ptr<BGXDevice>> devices);
    // `Unavailable` until Bluetooth is powered on, then `Idle` or `Scanning`.
    ScanState scanState() const;
    // Posts "scanState" (object: this scanner) after each change of the scan state.
    NotificationCenter& observers() { return observers_; }

    // The device the scanner tracks for `identifier` (first list, then second), or null.
    std::shared_ptr<BGXDevice> trackedDevice(const UUID& identifier) const;
    // Puts a device the scanner no longer tracks back into its second list, so that the
    // central's events about its peripheral reach it again.
    void adopt(const std::shared_ptr<BGXDevice>& device);

    // BleCentralDelegate: the central's events, on the driver's queue. A state other than
    // powered on makes the scan state `Unavailable`; every discovery is reported to the
    // delegate; connection events go to the device of the peripheral (either list).
    void centralManagerDidUpdateState(BleManagerState state) override;
    void didDiscoverPeripheral(const std::shared_ptr<BlePeripheral>& peripheral,
                               const BleAdvertisement& advertisement, int rssi) override;
    void didConnectPeripheral(const std::shared_ptr<BlePeripheral>& peripheral) override;
    void didFailToConnectPeripheral(const std::shared_ptr<BlePeripheral>& peripheral,
                                    const std::optional<BleError>& error) override;
    void didDisconnectPeripheral(const std::shared_ptr<BlePeripheral>& peripheral,
                                 const std::optional<BleError>& error) override;

  private:
    explicit BGXScanner(std::shared_ptr<DispatchQueue> queue);
    void setScanState(ScanState state);
    // The device of `peripheral` in either list (first list first), or null.
    std::shared_ptr<BGXDevice> findDevice(const BlePeripheral& peripheral) const;

    const std::shared_ptr<DispatchQueue> queue_;
    std::shared_ptr<BleCentral> manager_;
    NotificationCenter observers_;

    mutable std::mutex mutex_;
    ScanState scanState_ = ScanState::Unavailable;
    std::weak_ptr<BGXScanDelegate> delegate_;
    std::vector<std::shared_ptr<BGXDevice>> devicesDiscovered_;
    std::vector<std::shared_ptr<BGXDevice>> devicesDiscoveredWhichHaveDisconnected_;
};

}  // namespace qz
