#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ble/BusLoop.hpp"
#include "sim/SimulatedBGX13.hpp"

namespace qz::sim {

// BlueZ's Flags of a characteristic with these property bits ("read", "write", "notify", ...).
std::vector<std::string> bluezFlags(uint32_t properties);

// A stand-in for BlueZ's org.bluez service on a D-Bus bus of the tests' own, over simulated
// BGX13 modules: the object manager at "/", one adapter (Adapter1: power, discovery with its
// filter), a Device1 object for each module in reach once discovery has seen it, and, while a
// device is connected, its GattService1 and GattCharacteristic1 objects (ReadValue, WriteValue,
// StartNotify / StopNotify, values read or notified as PropertiesChanged of Value). Connect
// honours the module's connect answer (accepted, refused, never answered until Disconnect; a
// second Connect meanwhile is InProgress; the adapter's power-off fails it); a dropped link shows
// as Connected turning false and the GATT objects going away, and stopping discovery takes the
// devices' RSSI away, as with BlueZ.
class FakeBlueZ : public std::enable_shared_from_this<FakeBlueZ> {
  public:
    struct Options {
        std::string adapter = "hci0";
        std::string address = "00:1A:7D:DA:71:13";
        bool powered = true;
        uint16_t mtu = 247;
    };

    // Serves org.bluez on the bus at `busAddress`.
    static std::shared_ptr<FakeBlueZ> start(const std::string& busAddress, Options options);
    static std::shared_ptr<FakeBlueZ> start(const std::string& busAddress) {
        return start(busAddress, Options{});
    }
    ~FakeBlueZ();
    void stop();

    // A module comes in reach (discovery then finds it) or goes (its link drops).
    void add(const std::shared_ptr<SimulatedBGX13>& module);
    void remove(const std::shared_ptr<SimulatedBGX13>& module);
    // BlueZ lets go of the module's device object (as after RemoveDevice, or when a temporary
    // device has been out of reach for long); a later `add` makes a new one.
    void forget(const std::shared_ptr<SimulatedBGX13>& module);
    // The adapter's power, as if switched by the user.
    void setPowered(bool on);
    // A second adapter that the central may be told to use.
    void addAdapter(const std::string& name);
    // Calls still open when a link ends (reads the module leaves unanswered, writes and
    // subscriptions left open) fail only once the device's next link is up (its Connect
    // answered), instead of as the link ends: a BlueZ late with its answers.
    void failOpenCallsLate(bool late);
    // Writes and subscriptions are carried out but left unanswered until the link ends.
    void leaveWritesOpen(bool open);

    // Waits until everything asked of the fake so far has been done.
    void sync();
    // Stalls the fake, as a busy BlueZ, until the returned handle is released: calls made
    // meanwhile wait. Returns once the fake is stalled.
    std::shared_ptr<void> hold();
    // Whether the bus name could be taken.
    bool serving() const;

    // What the central did.
    bool discovering() const;
    std::vector<std::string> filterUuids() const;
    std::string filterTransport() const;
    int connectCalls() const;
    // The "type" option of every WriteValue on `uuid`, in order.
    std::vector<std::string> writeTypes(const std::string& uuid) const;
    std::string devicePath(const SimulatedBGX13& module) const;

    struct Bus;  // the objects on the bus (bus thread only)

  private:
    explicit FakeBlueZ(Options options) : options_(std::move(options)) {}

    const Options options_;
    std::shared_ptr<BusLoop> loop_;
    std::shared_ptr<Bus> bus_;

    friend struct Bus;
    mutable std::mutex mutex_;
    bool serving_ = false;
    bool discovering_ = false;
    std::vector<std::string> filterUuids_;
    std::string filterTransport_;
    int connectCalls_ = 0;
    bool lateFailures_ = false;
    bool writesOpen_ = false;
    std::map<std::string, std::vector<std::string>> writeTypes_;
};

}  // namespace qz::sim
