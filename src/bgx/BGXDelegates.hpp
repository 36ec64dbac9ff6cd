#pragma once

#include <memory>

#include "bgx/BGXTypes.hpp"
#include "platform/Result.hpp"
#include "platform/ble/BleCentral.hpp"

namespace qz {

class BGXDevice;

// The scanner's delegate. Every requirement is optional: the defaults do nothing. Called on the
// driver's queue.
class BGXScanDelegate {
  public:
    virtual ~BGXScanDelegate() = default;
    // The central's state (5: powered on; 1: the Bluetooth service went away and is expected
    // back; 2: no Bluetooth here), after the scan state followed it.
    virtual void bluetoothStateChanged(int state) {}
    // Every discovery report, of a new device or one already listed.
    virtual void deviceDiscovered(const std::shared_ptr<BGXDevice>& device) {}
    // The scan state changed (`Unavailable` while Bluetooth is not powered on).
    virtual void scanStateChanged(ScanState state) {}
};

// A device's delegate. Every requirement is optional. Called on the driver's queue.
class BGXDeviceDelegate {
  public:
    virtual ~BGXDeviceDelegate() = default;
    // The connection was not made within 30 seconds, or the attempt failed.
    virtual void connectionTimeoutForDevice(const std::shared_ptr<BGXDevice>& device) {}
    // Every state assignment (also one that repeats the state); read `deviceState()` now.
    virtual void stateChangedForDevice(const std::shared_ptr<BGXDevice>& device) {}
    // A polled signal strength that differs from the last one.
    virtual void rssiChangedForDevice(const std::shared_ptr<BGXDevice>& device) {}
    // The device closes its link because of `error` (an interrogation step, a read or a
    // subscription failed, or the firmware revision is unusable); `Disconnected` follows.
    virtual void notifyForDisconnectionError(const BleError& error) {}
};

// The receiver of a device's serial stream. Called on the driver's queue.
class BGXSerialDelegate {
  public:
    virtual ~BGXSerialDelegate() = default;
    // A bus mode value other than the stored one arrived (read or notified).
    virtual void busModeChanged(BusMode busMode, const std::shared_ptr<BGXDevice>& device) = 0;
    // One chunk from the module (one notification), in arrival order; its credit goes back to
    // the module once this returns.
    virtual void dataRead(const Data& data, const std::shared_ptr<BGXDevice>& device) = 0;
    // The last write accepted by `writeData` has been handed over completely.
    virtual void dataWrittenForDevice(const std::shared_ptr<BGXDevice>& device) = 0;
};

}  // namespace qz
