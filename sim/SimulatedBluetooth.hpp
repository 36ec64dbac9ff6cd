#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "platform/ble/BleCentral.hpp"
#include "sim/SimulatedBGX13.hpp"

namespace qz::sim {

class SimulatedCentral;

// The air between the library's centrals and simulated BGX13 modules: the adapter's power and
// the modules in reach. Installed as the process's central factory, it gives every new driver
// scanner a simulated central; modules added here advertise the streaming service to every
// scanning central (again when re-advertised, so one module can be discovered twice).
//
// Delivery: each central calls back on its queue, in event order; a module answers on the
// caller's thread (delayed answers on the module's own queue, through the installed clock).
class SimulatedBluetooth : public std::enable_shared_from_this<SimulatedBluetooth> {
  public:
    // Puts a world in place as the central factory for its lifetime, then restores the one
    // before.
    class Installation {
      public:
        explicit Installation(std::shared_ptr<SimulatedBluetooth> world);
        ~Installation();
        Installation(const Installation&) = delete;
        Installation& operator=(const Installation&) = delete;
        const std::shared_ptr<SimulatedBluetooth>& world() const { return world_; }

      private:
        std::shared_ptr<SimulatedBluetooth> world_;
        BleCentralFactory previous_;
    };

    static std::shared_ptr<SimulatedBluetooth> create();

    // A factory of centrals in this world.
    BleCentralFactory factory();

    // Powering off reports the state and closes every link (as lost); on reports the state.
    void setPowered(bool on);
    bool powered() const;

    // A module in reach starts advertising.
    void add(const std::shared_ptr<SimulatedBGX13>& module);
    // It goes out of reach: it stops advertising and its link drops.
    void remove(const std::shared_ptr<SimulatedBGX13>& module);
    // It advertises anew: every running scan reports it again.
    void advertise(const std::shared_ptr<SimulatedBGX13>& module);
    std::vector<std::shared_ptr<SimulatedBGX13>> modules() const;

    // The live centrals, oldest first.
    std::vector<std::shared_ptr<SimulatedCentral>> centrals() const;

  private:
    friend class SimulatedCentral;
    SimulatedBluetooth() = default;
    void advertiseLocked(const std::shared_ptr<SimulatedBGX13>& module);

    // Held while a module comes into reach or advertises and while a scan starts, so a module
    // added as a scan starts is reported once, by one or the other.
    std::mutex sightings_;
    mutable std::mutex mutex_;
    bool powered_ = true;
    std::vector<std::shared_ptr<SimulatedBGX13>> modules_;
    std::vector<std::weak_ptr<SimulatedCentral>> centrals_;
};

// A central of the simulated world (see BleCentral.hpp for the contract).
class SimulatedCentral : public BleCentral, public std::enable_shared_from_this<SimulatedCentral> {
  public:
    class Peripheral;

    SimulatedCentral(std::weak_ptr<SimulatedBluetooth> world,
                     std::weak_ptr<BleCentralDelegate> delegate,
                     std::shared_ptr<DispatchQueue> queue);
    // Lets the modules it is linked to go.
    ~SimulatedCentral() override;

    BleManagerState state() const override;
    std::shared_ptr<DispatchQueue> queue() const override { return queue_; }
    void scanForPeripherals(const std::vector<std::string>& serviceUuids) override;
    void stopScan() override;
    void connect(const std::shared_ptr<BlePeripheral>& peripheral) override;
    void cancelPeripheralConnection(const std::shared_ptr<BlePeripheral>& peripheral) override;

    bool isScanning() const;
    // Connect attempts made so far.
    int connectAttempts() const;

    // From the world.
    void powerChanged(bool on);
    void advertised(const std::shared_ptr<SimulatedBGX13>& module);
    // From a link.
    void linkLost(const std::shared_ptr<Peripheral>& peripheral, const BleError& error);

  private:
    std::shared_ptr<Peripheral> peripheralFor(const std::shared_ptr<SimulatedBGX13>& module);
    void post(std::function<void(BleCentralDelegate&)> call);
    void report(const std::shared_ptr<SimulatedBGX13>& module);  // a discovery

    const std::weak_ptr<SimulatedBluetooth> world_;
    const std::weak_ptr<BleCentralDelegate> delegate_;
    const std::shared_ptr<DispatchQueue> queue_;

    mutable std::mutex mutex_;
    bool powered_ = true;
    bool scanning_ = false;
    std::vector<std::string> filter_;
    std::map<SimulatedBGX13*, std::shared_ptr<Peripheral>> peripherals_;
    std::set<Peripheral*> connected_;
    std::set<Peripheral*> pending_;
    int attempts_ = 0;
};

}  // namespace qz::sim
