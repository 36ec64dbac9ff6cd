#pragma once

#include <memory>
#include <string>

#include "platform/ble/BleCentral.hpp"

namespace qz {

// Where a BlueZ central looks for Bluetooth.
struct BlueZOptions {
    // The adapter's name ("hci0", "hci1", ...); empty: the first adapter BlueZ lists.
    std::string adapter{};
    // The D-Bus address of the bus BlueZ is on; empty: the system bus (DBUS_SYSTEM_BUS_ADDRESS
    // when set, else the standard socket).
    std::string busAddress{};
};

// The BLE central over BlueZ, the Linux Bluetooth stack, on D-Bus (org.bluez):
// - state: the adapter's Powered property (poweredOn/poweredOff); unsupported when the bus,
//   the org.bluez service or the adapter cannot be found;
// - scan: SetDiscoveryFilter(UUIDs, Transport "le") and StartDiscovery; discoveries come from
//   the object manager's InterfacesAdded and from Device1 property changes, once per device per
//   scan;
// - connect and cancel: Device1.Connect and Disconnect; connected once both Connected and
//   ServicesResolved hold; a dropped link is Connected turning false (or the device removed);
// - services and characteristics: the objects under the device, by UUID;
// - read, write, notify: GattCharacteristic1 ReadValue, WriteValue (type "request" or
//   "command", one call at a time per device, in call order), StartNotify / StopNotify (their
//   replies answer `setNotifyValue`) with the values from PropertiesChanged;
// - maximum write length: the characteristics' MTU less 3 (20 while unknown); signal strength:
//   the last RSSI the device reported.
// Peripheral identifiers are name-based UUIDs of the device address, stable across runs.
//
// BlueZ itself: the owner of org.bluez is watched. When bluetoothd stops, every link and
// attempt ends with its report, what was read of it is forgotten and the state is `resetting`;
// when it starts again, adapters and devices are read afresh. Answers that come for a link that
// closed, or is closing, are dropped. A Disconnect that BlueZ refuses still ends the link (its
// subscriptions are left first). A central that goes disconnects every link it made or is
// making, without reports. The backend's own lines go through `bleLog`.
//
// All D-Bus work runs on the central's own bus thread (see BusLoop); callbacks go to the queue
// the central was made with.
class BlueZCentral : public BleCentral {
  public:
    static std::shared_ptr<BlueZCentral> create(std::weak_ptr<BleCentralDelegate> delegate,
                                                std::shared_ptr<DispatchQueue> queue,
                                                BlueZOptions options = {});
    // Makes BlueZ centrals with `options` (for setBleCentralFactory).
    static BleCentralFactory factory(BlueZOptions options = {});
    // The identifier of the peripheral with this device address ("AA:BB:CC:DD:EE:FF").
    static UUID identifierForAddress(const std::string& address);

    ~BlueZCentral() override;

    BleManagerState state() const override;
    std::shared_ptr<DispatchQueue> queue() const override;
    void scanForPeripherals(const std::vector<std::string>& serviceUuids) override;
    void stopScan() override;
    void connect(const std::shared_ptr<BlePeripheral>& peripheral) override;
    void cancelPeripheralConnection(const std::shared_ptr<BlePeripheral>& peripheral) override;

    // The object path of the adapter in use, once known.
    std::string adapterPath() const;

    struct Impl;

  private:
    explicit BlueZCentral(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}
    std::shared_ptr<Impl> impl_;
};

}  // namespace qz
