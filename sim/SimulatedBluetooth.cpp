#include "sim/SimulatedBluetooth.hpp"

#include <algorithm>

#include "platform/Locked.hpp"

namespace qz::sim {

namespace {

BleError connectFailedError() {
    return BleError{"CBErrorDomain", 10, "The connection has failed unexpectedly."};
}

BleError poweredOffError() {
    return BleError{"CBErrorDomain", 4, "Bluetooth is powered off."};
}

}  // namespace

// MARK: peripheral

class SimulatedCentral::Peripheral : public BlePeripheral,
                                     public std::enable_shared_from_this<Peripheral> {
  public:
    Peripheral(std::shared_ptr<SimulatedBGX13> module, std::shared_ptr<DispatchQueue> queue)
        : module_(std::move(module)), queue_(std::move(queue)) {}

    const std::shared_ptr<SimulatedBGX13>& module() const { return module_; }
    void setConnected(bool on) { lockedAssign(mutex_, connected_, on); }
    bool connected() const { return lockedCopy(mutex_, connected_); }

    UUID identifier() const override { return module_->identifier(); }
    std::optional<std::string> name() const override { return module_->peripheralName(); }
    void setDelegate(std::weak_ptr<BlePeripheralDelegate> delegate) override {
        lockedAssign(mutex_, delegate_, std::move(delegate));
    }

    void discoverServices() override {
        if (!connected()) return;
        auto error = module_->takeFault(SimulatedBGX13::Fault::serviceDiscovery);
        std::vector<BleService> services;
        if (!error)
            for (const auto& s : module_->services()) services.push_back({s.uuid, s.uuid});
        post([services, error](BlePeripheralDelegate& d, const std::shared_ptr<BlePeripheral>& p) {
            d.didDiscoverServices(p, services, error);
        });
    }

    void discoverCharacteristics(const BleService& service) override {
        if (!connected()) return;
        auto error = module_->takeFault(SimulatedBGX13::Fault::characteristicDiscovery);
        std::vector<BleCharacteristic> characteristics;
        if (!error)
            for (const auto& s : module_->services())
                if (s.uuid == service.uuid)
                    for (const auto& c : s.characteristics)
                        characteristics.push_back({c.uuid, c.properties, s.uuid, c.uuid});
        post([service, characteristics, error](BlePeripheralDelegate& d,
                                               const std::shared_ptr<BlePeripheral>& p) {
            d.didDiscoverCharacteristicsForService(p, service, characteristics, error);
        });
    }

    void readValue(const BleCharacteristic& c) override {
        if (!connected()) return;
        auto answer = module_->read(c.uuid);
        if (!answer.answered) return;
        post([c, answer](BlePeripheralDelegate& d, const std::shared_ptr<BlePeripheral>& p) {
            d.didUpdateValueForCharacteristic(p, c, answer.value, answer.error);
        });
    }

    void writeValue(const Data& value, const BleCharacteristic& c, BleWriteType type) override {
        if (!connected()) return;
        auto error = module_->write(c.uuid, value, type);
        if (type == BleWriteType::withResponse || error) {
            post([c, error](BlePeripheralDelegate& d, const std::shared_ptr<BlePeripheral>& p) {
                d.didWriteValueForCharacteristic(p, c, error);
            });
        } else {
            post([](BlePeripheralDelegate& d, const std::shared_ptr<BlePeripheral>& p) {
                d.peripheralIsReadyToSendWriteWithoutResponse(p);
            });
        }
    }

    void setNotifyValue(bool enabled, const BleCharacteristic& c) override {
        if (!connected()) return;
        auto error = module_->setNotifying(c.uuid, enabled);
        post([c, error](BlePeripheralDelegate& d, const std::shared_ptr<BlePeripheral>& p) {
            d.didUpdateNotificationStateForCharacteristic(p, c, error);
        });
    }

    void readRSSI() override {
        if (!connected()) return;
        int rssi = module_->rssi();
        post([rssi](BlePeripheralDelegate& d, const std::shared_ptr<BlePeripheral>& p) {
            d.didReadRSSI(p, rssi, std::nullopt);
        });
    }

    size_t maximumWriteValueLength(BleWriteType type) const override {
        return type == BleWriteType::withResponse ? module_->options().maxWriteWithResponse
                                                  : module_->options().maxWriteWithoutResponse;
    }

    // A notification from the module (its lock held: only queue work here).
    void notified(const std::string& uuid, const Data& value) {
        BleCharacteristic c{uuid, 0, {}, uuid};
        for (const auto& s : module_->services())
            for (const auto& known : s.characteristics)
                if (known.uuid == uuid) c = {uuid, known.properties, s.uuid, uuid};
        post([c, value](BlePeripheralDelegate& d, const std::shared_ptr<BlePeripheral>& p) {
            d.didUpdateValueForCharacteristic(p, c, value, std::nullopt);
        });
    }

  private:
    using Call = std::function<void(BlePeripheralDelegate&, const std::shared_ptr<BlePeripheral>&)>;

    void post(Call call) {
        std::weak_ptr<Peripheral> weak = weak_from_this();
        queue_->async([weak, call = std::move(call)] {
            auto self = weak.lock();
            if (!self) return;
            if (auto d = lockedCopy(self->mutex_, self->delegate_).lock()) call(*d, self);
        });
    }

    const std::shared_ptr<SimulatedBGX13> module_;
    const std::shared_ptr<DispatchQueue> queue_;
    mutable std::mutex mutex_;
    std::weak_ptr<BlePeripheralDelegate> delegate_;
    bool connected_ = false;
};

namespace {

// The module's side of one connected link.
class Link : public SimulatedBGX13::Link {
  public:
    Link(std::weak_ptr<SimulatedCentral> central,
         std::weak_ptr<SimulatedCentral::Peripheral> peripheral)
        : central_(std::move(central)), peripheral_(std::move(peripheral)) {}
    void notify(const std::string& uuid, const Data& value) override {
        if (auto p = peripheral_.lock()) p->notified(uuid, value);
    }
    void dropped(const BleError& error) override {
        auto central = central_.lock();
        auto peripheral = peripheral_.lock();
        if (central && peripheral) central->linkLost(peripheral, error);
    }

  private:
    std::weak_ptr<SimulatedCentral> central_;
    std::weak_ptr<SimulatedCentral::Peripheral> peripheral_;
};

}  // namespace

// MARK: central

SimulatedCentral::SimulatedCentral(std::weak_ptr<SimulatedBluetooth> world,
                                   std::weak_ptr<BleCentralDelegate> delegate,
                                   std::shared_ptr<DispatchQueue> queue)
    : world_(std::move(world)), delegate_(std::move(delegate)), queue_(std::move(queue)) {
    auto w = world_.lock();
    powered_ = w && w->powered();
}

// As a platform central: its links go with it, and the modules are free for another central.
SimulatedCentral::~SimulatedCentral() {
    std::vector<std::shared_ptr<Peripheral>> linked;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [module, p] : peripherals_)
            if (connected_.count(p.get())) linked.push_back(p);
    }
    for (const auto& p : linked) {
        p->setConnected(false);
        p->module()->detach();
    }
}

BleManagerState SimulatedCentral::state() const {
    if (world_.expired()) return BleManagerState::unsupported;
    return lockedCopy(mutex_, powered_) ? BleManagerState::poweredOn : BleManagerState::poweredOff;
}

void SimulatedCentral::post(std::function<void(BleCentralDelegate&)> call) {
    queue_->async([delegate = delegate_, call = std::move(call)] {
        if (auto d = delegate.lock()) call(*d);
    });
}

std::shared_ptr<SimulatedCentral::Peripheral> SimulatedCentral::peripheralFor(
    const std::shared_ptr<SimulatedBGX13>& module) {
    std::lock_guard lock(mutex_);
    auto& p = peripherals_[module.get()];
    if (!p) p = std::make_shared<Peripheral>(module, queue_);
    return p;
}

bool SimulatedCentral::isScanning() const {
    return lockedCopy(mutex_, scanning_);
}

int SimulatedCentral::connectAttempts() const {
    return lockedCopy(mutex_, attempts_);
}

void SimulatedCentral::report(const std::shared_ptr<SimulatedBGX13>& module) {
    {
        std::lock_guard lock(mutex_);
        if (!powered_ || !scanning_) return;
        if (!filter_.empty() &&
            std::find(filter_.begin(), filter_.end(), BGXUUID::streamingService) == filter_.end())
            return;
    }
    std::shared_ptr<BlePeripheral> peripheral = peripheralFor(module);
    BleAdvertisement advertisement{module->advertisedName(), {BGXUUID::streamingService}};
    int rssi = module->rssi();
    post([peripheral, advertisement, rssi](BleCentralDelegate& d) {
        d.didDiscoverPeripheral(peripheral, advertisement, rssi);
    });
}

void SimulatedCentral::scanForPeripherals(const std::vector<std::string>& serviceUuids) {
    auto world = world_.lock();
    std::unique_lock<std::mutex> sightings;
    if (world) sightings = std::unique_lock(world->sightings_);
    {
        std::lock_guard lock(mutex_);
        if (!powered_) return;
        scanning_ = true;
        filter_.clear();
        for (const auto& u : serviceUuids) filter_.push_back(normalizedBleUUID(u));
    }
    if (world)
        for (const auto& module : world->modules()) report(module);
}

void SimulatedCentral::stopScan() {
    lockedAssign(mutex_, scanning_, false);
}

void SimulatedCentral::advertised(const std::shared_ptr<SimulatedBGX13>& module) {
    report(module);
}

void SimulatedCentral::connect(const std::shared_ptr<BlePeripheral>& peripheral) {
    auto p = std::dynamic_pointer_cast<Peripheral>(peripheral);
    if (!p) {
        post([peripheral](BleCentralDelegate& d) {
            d.didFailToConnectPeripheral(peripheral, connectFailedError());
        });
        return;
    }
    bool powered;
    bool connected;
    {
        std::lock_guard lock(mutex_);
        ++attempts_;
        powered = powered_;
        connected = connected_.count(p.get()) > 0;
    }
    std::shared_ptr<BlePeripheral> handle = p;
    if (!powered) {
        post([handle](BleCentralDelegate& d) {
            d.didFailToConnectPeripheral(handle, poweredOffError());
        });
        return;
    }
    if (connected) {
        post([handle](BleCentralDelegate& d) { d.didConnectPeripheral(handle); });
        return;
    }
    switch (p->module()->connectAnswer()) {
        case SimulatedBGX13::ConnectAnswer::accept:
            if (p->module()->linked()) {
                post([handle](BleCentralDelegate& d) {
                    d.didFailToConnectPeripheral(handle, connectFailedError());
                });
                return;
            }
            {
                std::lock_guard lock(mutex_);
                connected_.insert(p.get());
                pending_.erase(p.get());
            }
            p->setConnected(true);
            p->module()->attach(std::make_shared<Link>(weak_from_this(), p));
            post([handle](BleCentralDelegate& d) { d.didConnectPeripheral(handle); });
            return;
        case SimulatedBGX13::ConnectAnswer::refuse:
            post([handle](BleCentralDelegate& d) {
                d.didFailToConnectPeripheral(handle, connectFailedError());
            });
            return;
        case SimulatedBGX13::ConnectAnswer::silent: {
            std::lock_guard lock(mutex_);
            pending_.insert(p.get());
            return;
        }
    }
}

void SimulatedCentral::cancelPeripheralConnection(
    const std::shared_ptr<BlePeripheral>& peripheral) {
    auto p = std::dynamic_pointer_cast<Peripheral>(peripheral);
    if (!p) return;
    bool wasConnected;
    bool wasPending;
    {
        std::lock_guard lock(mutex_);
        wasConnected = connected_.erase(p.get()) > 0;
        wasPending = pending_.erase(p.get()) > 0;
    }
    if (wasConnected) {
        p->setConnected(false);
        p->module()->detach();
    }
    if (!wasConnected && !wasPending) return;
    std::shared_ptr<BlePeripheral> handle = p;
    post([handle](BleCentralDelegate& d) { d.didDisconnectPeripheral(handle, std::nullopt); });
}

void SimulatedCentral::linkLost(const std::shared_ptr<Peripheral>& peripheral,
                                const BleError& error) {
    {
        std::lock_guard lock(mutex_);
        if (!connected_.erase(peripheral.get())) return;
    }
    peripheral->setConnected(false);
    std::shared_ptr<BlePeripheral> handle = peripheral;
    post([handle, error](BleCentralDelegate& d) { d.didDisconnectPeripheral(handle, error); });
}

void SimulatedCentral::powerChanged(bool on) {
    std::vector<std::shared_ptr<Peripheral>> dropped;
    std::vector<std::shared_ptr<Peripheral>> abandoned;
    {
        std::lock_guard lock(mutex_);
        if (powered_ == on) return;
        powered_ = on;
        if (!on) {
            scanning_ = false;
            for (auto& [module, p] : peripherals_) {
                if (connected_.count(p.get())) dropped.push_back(p);
                if (pending_.count(p.get())) abandoned.push_back(p);
            }
            pending_.clear();
            connected_.clear();
        }
    }
    // Attempts still waiting fail: the radio that was to make them is off.
    for (const auto& p : abandoned) {
        std::shared_ptr<BlePeripheral> handle = p;
        post([handle](BleCentralDelegate& d) {
            d.didFailToConnectPeripheral(handle, poweredOffError());
        });
    }
    for (const auto& p : dropped) {
        p->setConnected(false);
        p->module()->detach();
        std::shared_ptr<BlePeripheral> handle = p;
        post([handle](BleCentralDelegate& d) {
            d.didDisconnectPeripheral(handle, SimulatedBGX13::linkLostError());
        });
    }
    auto state = on ? BleManagerState::poweredOn : BleManagerState::poweredOff;
    post([state](BleCentralDelegate& d) { d.centralManagerDidUpdateState(state); });
}

// MARK: world

SimulatedBluetooth::Installation::Installation(std::shared_ptr<SimulatedBluetooth> world)
    : world_(std::move(world)), previous_(setBleCentralFactory(world_->factory())) {}

SimulatedBluetooth::Installation::~Installation() {
    setBleCentralFactory(previous_);
}

std::shared_ptr<SimulatedBluetooth> SimulatedBluetooth::create() {
    return std::shared_ptr<SimulatedBluetooth>(new SimulatedBluetooth());
}

BleCentralFactory SimulatedBluetooth::factory() {
    std::weak_ptr<SimulatedBluetooth> weak = weak_from_this();
    return
        [weak](std::weak_ptr<BleCentralDelegate> delegate, std::shared_ptr<DispatchQueue> queue) {
            auto central = std::make_shared<SimulatedCentral>(weak, delegate, queue);
            if (auto world = weak.lock()) {
                std::lock_guard lock(world->mutex_);
                world->centrals_.push_back(central);
            }
            auto state = central->state();
            queue->async([delegate, state] {
                if (auto d = delegate.lock()) d->centralManagerDidUpdateState(state);
            });
            return central;
        };
}

bool SimulatedBluetooth::powered() const {
    return lockedCopy(mutex_, powered_);
}

void SimulatedBluetooth::setPowered(bool on) {
    lockedAssign(mutex_, powered_, on);
    for (const auto& central : centrals()) central->powerChanged(on);
}

void SimulatedBluetooth::add(const std::shared_ptr<SimulatedBGX13>& module) {
    std::lock_guard sightings(sightings_);
    {
        std::lock_guard lock(mutex_);
        if (std::find(modules_.begin(), modules_.end(), module) != modules_.end()) return;
        modules_.push_back(module);
    }
    std::weak_ptr<SimulatedBluetooth> weakWorld = weak_from_this();
    std::weak_ptr<SimulatedBGX13> weakModule = module;
    module->setAdvertiseHook([weakWorld, weakModule] {
        auto world = weakWorld.lock();
        auto m = weakModule.lock();
        if (world && m) world->advertise(m);
    });
    advertiseLocked(module);
}

void SimulatedBluetooth::remove(const std::shared_ptr<SimulatedBGX13>& module) {
    {
        std::lock_guard lock(mutex_);
        modules_.erase(std::remove(modules_.begin(), modules_.end(), module), modules_.end());
    }
    module->setAdvertiseHook(nullptr);
    module->dropLink();
}

void SimulatedBluetooth::advertise(const std::shared_ptr<SimulatedBGX13>& module) {
    std::lock_guard sightings(sightings_);
    advertiseLocked(module);
}

void SimulatedBluetooth::advertiseLocked(const std::shared_ptr<SimulatedBGX13>& module) {
    {
        std::lock_guard lock(mutex_);
        if (std::find(modules_.begin(), modules_.end(), module) == modules_.end()) return;
    }
    for (const auto& central : centrals()) central->advertised(module);
}

std::vector<std::shared_ptr<SimulatedBGX13>> SimulatedBluetooth::modules() const {
    return lockedCopy(mutex_, modules_);
}

std::vector<std::shared_ptr<SimulatedCentral>> SimulatedBluetooth::centrals() const {
    std::vector<std::shared_ptr<SimulatedCentral>> live;
    std::lock_guard lock(mutex_);
    for (const auto& weak : centrals_)
        if (auto c = weak.lock()) live.push_back(c);
    return live;
}

}  // namespace qz::sim
