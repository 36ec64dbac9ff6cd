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
    // The central's state (5: powered on).
    virtual void bluetoothStateChanged(int state) {}
    // Every discovery report, of a new device or one already listed.
    virtual void deviceDiscovered(const std::shared_ptr<BGXDevice>& device) {}
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
    virtual void rssiChangedForDevice(const std::shared_ptr<BGXDevice>& device) {}
    virtual void notifyForDisconnectionError(const BleError& error) {}
};

// The receiver of a device's serial stream. Called on the driver's queue.
class BGXSerialDelegate {
  public:
    virtual ~BGXSerialDelegate() = default;
    virtual void busModeChanged(BusMode busMode, const std::shared_ptr<BGXDevice>& device) = 0;
    // One chunk from the module (one notification), in arrival order.
    virtual void dataRead(const Data& data, const std::shared_ptr<BGXDevice>& device) = 0;
    // The last write accepted by `writeData` has been handed over completely.
    virtual void dataWrittenForDevice(const std::shared_ptr<BGXDevice>& device) = 0;
};

}  // namespace qz
