#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ble/BusLoop.hpp"
#include "sim/SimulatedBGX13.hpp"

namespace qz::sim {

// BlueZ as python-dbusmock's bluez5 template plays it (Debian's python3-dbusmock, run by
// /usr/bin/python3 on a test bus), with simulated BGX13 modules in reach. Everything the
// template lacks is added through its mock interface (org.freedesktop.DBus.Mock and
// org.bluez.Mock), as a test of a BlueZ client would:
// - a device per module (AddDevice), advertising the streaming service (its UUIDs);
// - on a successful Device1.Connect (the template's own), the module's GATT objects (AddObject,
//   InterfacesAdded) and ServicesResolved; on Disconnect, or when the module drops the link,
//   Connected and ServicesResolved false and the objects removed;
// - characteristics whose ReadValue answers their Value, whose WriteValue, StartNotify and
//   StopNotify reach the module (seen through the mock's MethodCalled signals), and whose
//   notifications are Value changes (UpdateProperties);
// - refusals: the next calls of a method fail with a BlueZ error (AddMethod with code that
//   raises); the adapter switched off takes its devices' links down first.
// `stopService` ends the mock's process (bluetoothd stops: its bus name is released),
// `startService` starts a new one that takes the name again with the adapter and the devices.
//
// The calls wait until the mock has done what they ask. All D-Bus work runs on a bus thread of
// its own; modules are driven from it.
class DbusmockBlueZ : public std::enable_shared_from_this<DbusmockBlueZ> {
  public:
    // Why the template cannot run here (python3-dbusmock is not installed), or none.
    static std::optional<std::string> unavailable();
    // Whether the machine's package manager can install python3-dbusmock.
    static bool installable();

    // Starts the mock on the bus at `busAddress`; its output goes to `folder`/dbusmock.log.
    static std::shared_ptr<DbusmockBlueZ> start(const std::string& busAddress,
                                                const std::filesystem::path& folder);
    ~DbusmockBlueZ();
    DbusmockBlueZ(const DbusmockBlueZ&) = delete;
    DbusmockBlueZ& operator=(const DbusmockBlueZ&) = delete;

    // bluetoothd stops: the process ends and every link with it.
    void stopService();
    // bluetoothd starts again: a new process, the adapter, the devices of the modules in reach.
    void startService();
    bool serving() const;

    // A module comes in reach: its device appears, advertising the streaming service.
    void add(const std::shared_ptr<SimulatedBGX13>& module);
    // The next `times` calls of `method` fail with the BlueZ error `error`
    // ("org.bluez.Error.Failed"): on the module's device ("Connect", "Disconnect"), or, with a
    // characteristic's `uuid`, on that characteristic ("WriteValue", "StartNotify"; while
    // connected).
    void refuse(const std::shared_ptr<SimulatedBGX13>& module, const std::string& method,
                const std::string& error, int times = 1, const std::string& uuid = {});
    // The adapter's power (the links go down first when it is switched off).
    void setPowered(bool on);
    // Calls of `method` on the module's device the mock has logged.
    int deviceCalls(const std::shared_ptr<SimulatedBGX13>& module, const std::string& method);
    std::string devicePath(const SimulatedBGX13& module) const;

    struct State;  // bus thread only

  private:
    DbusmockBlueZ() = default;
    // Runs `work` on the bus thread and waits for it; rethrows its failure as runtime_error.
    void run(std::function<void(State&)> work);

    std::shared_ptr<BusLoop> loop_;
    std::shared_ptr<State> state_;
};

}  // namespace qz::sim
