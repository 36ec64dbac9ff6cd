#include "sim/FakeBlueZ.hpp"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <future>
#include <optional>

#include <sdbus-c++/sdbus-c++.h>

#include "platform/Locked.hpp"

namespace qz::sim {

namespace {

constexpr const char* kAdapter = "org.bluez.Adapter1";
constexpr const char* kDevice = "org.bluez.Device1";
constexpr const char* kGattService = "org.bluez.GattService1";
constexpr const char* kGattCharacteristic = "org.bluez.GattCharacteristic1";

using VariantMap = std::map<std::string, sdbus::Variant>;

}  // namespace

std::vector<std::string> bluezFlags(uint32_t properties) {
    std::vector<std::string> flags;
    if (properties & BleProperty::broadcast) flags.push_back("broadcast");
    if (properties & BleProperty::read) flags.push_back("read");
    if (properties & BleProperty::writeWithoutResponse) flags.push_back("write-without-response");
    if (properties & BleProperty::write) flags.push_back("write");
    if (properties & BleProperty::notify) flags.push_back("notify");
    if (properties & BleProperty::indicate) flags.push_back("indicate");
    return flags;
}

namespace {

std::string hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

sdbus::Error failed(const std::string& message) {
    return sdbus::Error("org.bluez.Error.Failed", message);
}

sdbus::Error notConnected() {
    return sdbus::Error("org.bluez.Error.NotConnected", "Not Connected");
}

// A call left unanswered: answering it fails it with the error given.
using OpenCall = std::function<void(const sdbus::Error&)>;

template <class Result>
OpenCall openCall(Result&& result) {
    auto held = std::make_shared<Result>(std::move(result));
    return [held](const sdbus::Error& error) { held->returnError(error); };
}

}  // namespace

struct FakeBlueZ::Bus : std::enable_shared_from_this<FakeBlueZ::Bus> {
    struct Characteristic {
        std::string uuid;
        std::string path;
        std::string servicePath;
        uint32_t properties = 0;
        std::vector<uint8_t> value;
        bool notifying = false;
        std::unique_ptr<sdbus::IObject> object;
    };
    struct Device {
        std::shared_ptr<SimulatedBGX13> module;
        std::string path;
        bool inReach = true;
        bool connected = false;
        bool resolved = false;
        std::unique_ptr<sdbus::IObject> object;
        std::vector<std::unique_ptr<sdbus::IObject>> services;
        std::vector<std::unique_ptr<Characteristic>> characteristics;
        std::optional<sdbus::Result<>> pendingConnect;
        // Calls of the link not answered yet; those of an ended link that fail only once the
        // next link is up.
        std::vector<OpenCall> openCalls;
        std::vector<OpenCall> lateCalls;
        uint64_t generation = 0;
    };
    struct Adapter {
        std::string path;
        std::string address;
        bool powered = true;
        bool discovering = false;
        std::unique_ptr<sdbus::IObject> object;
    };

    FakeBlueZ* owner = nullptr;
    std::weak_ptr<BusLoop> loop;
    sdbus::IConnection* connection = nullptr;
    std::vector<std::unique_ptr<Adapter>> adapters;
    std::vector<std::unique_ptr<Device>> devices;

    Adapter& primary() { return *adapters.front(); }

    // The module's side of a connected link: values and drops come back to the bus thread.
    class Link : public SimulatedBGX13::Link {
      public:
        Link(std::weak_ptr<Bus> bus, std::weak_ptr<BusLoop> loop, SimulatedBGX13* module,
             uint64_t generation)
            : bus_(std::move(bus)),
              loop_(std::move(loop)),
              module_(module),
              generation_(generation) {}
        void notify(const std::string& uuid, const Data& value) override {
            post([uuid, value](Bus& bus, Device& d) { bus.notified(d, uuid, value); });
        }
        void dropped(const BleError&) override {
            post([](Bus& bus, Device& d) { bus.teardown(d); });
        }

      private:
        void post(std::function<void(Bus&, Device&)> work) {
            auto loop = loop_.lock();
            if (!loop) return;
            loop->post([bus = bus_, module = module_, generation = generation_,
                        work = std::move(work)](sdbus::IConnection*) {
                auto self = bus.lock();
                if (!self) return;
                for (auto& d : self->devices)
                    if (d->module.get() == module && d->generation == generation) work(*self, *d);
            });
        }
        std::weak_ptr<Bus> bus_;
        std::weak_ptr<BusLoop> loop_;
        SimulatedBGX13* module_;
        uint64_t generation_;
    };

    // MARK: adapter

    void addAdapter(const std::string& name, const std::string& address, bool powered) {
        auto a = std::make_unique<Adapter>();
        a->path = "/org/bluez/" + name;
        a->address = address;
        a->powered = powered;
        Adapter* raw = a.get();
        a->object = sdbus::createObject(*connection, a->path);
        auto& o = *a->object;
        o.registerProperty("Address").onInterface(kAdapter).withGetter(
            [raw] { return raw->address; });
        o.registerProperty("Name").onInterface(kAdapter).withGetter(
            [] { return std::string("fake"); });
        o.registerProperty("Alias").onInterface(kAdapter).withGetter(
            [] { return std::string("fake"); });
        o.registerProperty("Powered")
            .onInterface(kAdapter)
            .withGetter([raw] { return raw->powered; })
            .withSetter([this, raw](const bool& on) { power(*raw, on); });
        o.registerProperty("Discovering").onInterface(kAdapter).withGetter([raw] {
            return raw->discovering;
        });
        o.registerProperty("UUIDs").onInterface(kAdapter).withGetter(
            [] { return std::vector<std::string>{}; });
        o.registerMethod("SetDiscoveryFilter")
            .onInterface(kAdapter)
            .implementedAs([this](const VariantMap& filter) {
                std::lock_guard lock(owner->mutex_);
                owner->filterUuids_.clear();
                owner->filterTransport_.clear();
                if (auto it = filter.find("UUIDs"); it != filter.end())
                    owner->filterUuids_ = it->second.get<std::vector<std::string>>();
                if (auto it = filter.find("Transport"); it != filter.end())
                    owner->filterTransport_ = it->second.get<std::string>();
            });
        o.registerMethod("StartDiscovery").onInterface(kAdapter).implementedAs([this, raw] {
            if (!raw->powered) throw sdbus::Error("org.bluez.Error.NotReady", "Resource Not Ready");
            raw->discovering = true;
            lockedAssign(owner->mutex_, owner->discovering_, true);
            raw->object->emitPropertiesChangedSignal(kAdapter, {"Discovering"});
            if (raw == &primary())
                for (auto& d : devices) seen(*d);
        });
        o.registerMethod("StopDiscovery").onInterface(kAdapter).implementedAs([this, raw] {
            raw->discovering = false;
            raw->object->emitPropertiesChangedSignal(kAdapter, {"Discovering"});
            // Without discovery BlueZ knows no signal strength: RSSI goes away.
            if (raw == &primary())
                for (auto& d : devices)
                    if (d->object)
                        d->object->emitSignal("PropertiesChanged")
                            .onInterface("org.freedesktop.DBus.Properties")
                            .withArguments(std::string(kDevice), VariantMap{},
                                           std::vector<std::string>{"RSSI"});
            lockedAssign(owner->mutex_, owner->discovering_, false);
        });
        o.registerMethod("RemoveDevice")
            .onInterface(kAdapter)
            .implementedAs([this](const sdbus::ObjectPath& path) {
                for (auto& d : devices)
                    if (d->path == path) forget(*d);
            });
        o.finishRegistration();
        o.emitInterfacesAddedSignal();
        adapters.push_back(std::move(a));
    }

    void power(Adapter& a, bool on) {
        if (a.powered == on) return;
        a.powered = on;
        a.object->emitPropertiesChangedSignal(kAdapter, {"Powered"});
        if (on || &a != &primary()) return;
        for (auto& d : devices) {
            if (d->pendingConnect) {
                d->pendingConnect->returnError(failed("Adapter powered off"));
                d->pendingConnect.reset();
            }
            if (d->connected) d->module->detach();
            teardown(*d);
        }
        a.discovering = false;
        lockedAssign(owner->mutex_, owner->discovering_, false);
        a.object->emitPropertiesChangedSignal(kAdapter, {"Discovering"});
    }

    // MARK: devices

    void add(const std::shared_ptr<SimulatedBGX13>& module) {
        for (auto& d : devices)
            if (d->module == module) {
                d->inReach = true;
                seen(*d);
                return;
            }
        auto d = std::make_unique<Device>();
        d->module = module;
        std::string address = module->options().address;
        std::replace(address.begin(), address.end(), ':', '_');
        d->path = primary().path + "/dev_" + address;
        devices.push_back(std::move(d));
        seen(*devices.back());
    }

    void remove(const std::shared_ptr<SimulatedBGX13>& module) {
        for (auto& d : devices)
            if (d->module == module) {
                d->inReach = false;
                module->dropLink();
            }
    }

    // BlueZ lets go of a device (RemoveDevice, or a temporary device out of reach for long):
    // its object goes; discovery makes a new one when the module is seen again.
    void forget(Device& d) {
        if (d.pendingConnect) {
            d.pendingConnect->returnError(failed("Device removed"));
            d.pendingConnect.reset();
        }
        if (d.connected) d.module->detach();
        teardown(d);
        if (!d.object) return;
        d.object->emitInterfacesRemovedSignal();
        d.object.reset();
    }

    // Discovery sees a device in reach: exported on first sight, its RSSI renewed afterwards.
    void seen(Device& d) {
        if (!primary().discovering || !primary().powered || !d.inReach) return;
        if (d.object) {
            d.object->emitPropertiesChangedSignal(kDevice, {"RSSI"});
            return;
        }
        Device* raw = &d;
        d.object = sdbus::createObject(*connection, d.path);
        auto& o = *d.object;
        auto module = d.module;
        o.registerProperty("Address").onInterface(kDevice).withGetter(
            [module] { return module->options().address; });
        o.registerProperty("AddressType").onInterface(kDevice).withGetter([] {
            return std::string("public");
        });
        o.registerProperty("Name").onInterface(kDevice).withGetter(
            [module] { return module->advertisedName().value_or(""); });
        o.registerProperty("Alias").onInterface(kDevice).withGetter(
            [module] { return module->advertisedName().value_or(""); });
        o.registerProperty("UUIDs").onInterface(kDevice).withGetter(
            [] { return std::vector<std::string>{BGXUUID::streamingService}; });
        o.registerProperty("RSSI").onInterface(kDevice).withGetter(
            [module] { return static_cast<int16_t>(module->rssi()); });
        o.registerProperty("Connected").onInterface(kDevice).withGetter([raw] {
            return raw->connected;
        });
        o.registerProperty("ServicesResolved").onInterface(kDevice).withGetter([raw] {
            return raw->resolved;
        });
        o.registerProperty("Paired").onInterface(kDevice).withGetter([] { return false; });
        o.registerProperty("Trusted").onInterface(kDevice).withGetter([] { return false; });
        o.registerProperty("Blocked").onInterface(kDevice).withGetter([] { return false; });
        std::string adapterPath = primary().path;
        o.registerProperty("Adapter").onInterface(kDevice).withGetter(
            [adapterPath] { return sdbus::ObjectPath(adapterPath); });
        o.registerMethod("Connect").onInterface(kDevice).implementedAs(
            [this, raw](sdbus::Result<>&& result) { connect(*raw, std::move(result)); });
        o.registerMethod("Disconnect").onInterface(kDevice).implementedAs([this, raw] {
            disconnect(*raw);
        });
        o.registerMethod("Pair").onInterface(kDevice).implementedAs([] {});
        o.registerMethod("CancelPairing").onInterface(kDevice).implementedAs([] {});
        o.finishRegistration();
        o.emitInterfacesAddedSignal();
    }

    void connect(Device& d, sdbus::Result<>&& result) {
        {
            std::lock_guard lock(owner->mutex_);
            ++owner->connectCalls_;
        }
        if (d.connected) {
            result.returnResults();
            return;
        }
        if (d.pendingConnect) {
            result.returnError(sdbus::Error("org.bluez.Error.InProgress", "In Progress"));
            return;
        }
        if (!d.inReach || !primary().powered) {
            result.returnError(failed("Device not available"));
            return;
        }
        switch (d.module->connectAnswer()) {
            case SimulatedBGX13::ConnectAnswer::refuse:
                result.returnError(failed("le-connection-abort-by-local"));
                return;
            case SimulatedBGX13::ConnectAnswer::silent:
                d.pendingConnect = std::move(result);
                return;
            case SimulatedBGX13::ConnectAnswer::accept:
                break;
        }
        if (d.module->linked()) {
            result.returnError(failed("In use"));
            return;
        }
        ++d.generation;
        d.module->attach(
            std::make_shared<Link>(weak_from_this(), loop, d.module.get(), d.generation));
        d.connected = true;
        d.object->emitPropertiesChangedSignal(kDevice, {"Connected"});
        exportGatt(d);
        d.resolved = true;
        d.object->emitPropertiesChangedSignal(kDevice, {"ServicesResolved"});
        result.returnResults();
        for (auto& call : d.lateCalls) call(notConnected());
        d.lateCalls.clear();
    }

    void disconnect(Device& d) {
        if (auto refused = d.module->takeFault(SimulatedBGX13::Fault::disconnect))
            throw failed(refused->description);
        if (d.pendingConnect) {
            d.pendingConnect->returnError(failed("Operation canceled"));
            d.pendingConnect.reset();
        }
        if (!d.connected) return;
        d.module->detach();
        teardown(d);
    }

    // The link is down: GATT objects go, Connected and ServicesResolved turn false.
    void teardown(Device& d) {
        if (!d.connected) return;
        ++d.generation;
        const bool late = lockedCopy(owner->mutex_, owner->lateFailures_);
        for (auto& call : d.openCalls) {
            if (late)
                d.lateCalls.push_back(std::move(call));
            else
                call(notConnected());
        }
        d.openCalls.clear();
        for (auto& c : d.characteristics) c->object->emitInterfacesRemovedSignal();
        for (auto& s : d.services) s->emitInterfacesRemovedSignal();
        d.characteristics.clear();
        d.services.clear();
        d.connected = false;
        d.resolved = false;
        d.object->emitPropertiesChangedSignal(kDevice, {"Connected", "ServicesResolved"});
    }

    // MARK: GATT

    void exportGatt(Device& d) {
        unsigned handle = 0x000a;
        for (const auto& offered : d.module->services()) {
            std::string servicePath = d.path + "/service" + hex4(handle++);
            auto service = sdbus::createObject(*connection, servicePath);
            std::string uuid = offered.uuid;
            std::string devicePath = d.path;
            service->registerProperty("UUID").onInterface(kGattService).withGetter([uuid] {
                return uuid;
            });
            service->registerProperty("Primary").onInterface(kGattService).withGetter([] {
                return true;
            });
            service->registerProperty("Device").onInterface(kGattService).withGetter([devicePath] {
                return sdbus::ObjectPath(devicePath);
            });
            service->finishRegistration();
            service->emitInterfacesAddedSignal();
            d.services.push_back(std::move(service));
            for (const auto& cs : offered.characteristics) {
                auto c = std::make_unique<Characteristic>();
                c->uuid = cs.uuid;
                c->properties = cs.properties;
                c->servicePath = servicePath;
                c->path = servicePath + "/char" + hex4(handle++);
                exportCharacteristic(d, *c);
                d.characteristics.push_back(std::move(c));
            }
        }
    }

    void exportCharacteristic(Device& d, Characteristic& c) {
        Characteristic* raw = &c;
        Device* device = &d;
        c.object = sdbus::createObject(*connection, c.path);
        auto& o = *c.object;
        uint16_t mtu = owner->options_.mtu;
        o.registerProperty("UUID").onInterface(kGattCharacteristic).withGetter([raw] {
            return raw->uuid;
        });
        o.registerProperty("Service").onInterface(kGattCharacteristic).withGetter([raw] {
            return sdbus::ObjectPath(raw->servicePath);
        });
        o.registerProperty("Value").onInterface(kGattCharacteristic).withGetter([raw] {
            return raw->value;
        });
        o.registerProperty("Notifying").onInterface(kGattCharacteristic).withGetter([raw] {
            return raw->notifying;
        });
        o.registerProperty("Flags").onInterface(kGattCharacteristic).withGetter([raw] {
            return bluezFlags(raw->properties);
        });
        o.registerProperty("MTU").onInterface(kGattCharacteristic).withGetter([mtu] {
            return mtu;
        });
        o.registerMethod("ReadValue")
            .onInterface(kGattCharacteristic)
            .implementedAs(
                [device, raw](sdbus::Result<std::vector<uint8_t>>&& result, const VariantMap&) {
                    auto answer = device->module->read(raw->uuid);
                    if (!answer.answered) {
                        device->openCalls.push_back(openCall(std::move(result)));
                        return;
                    }
                    if (answer.error) {
                        result.returnError(failed(answer.error->description));
                        return;
                    }
                    // Value is the last value read or notified; its changes are signalled.
                    std::vector<uint8_t> value(answer.value.begin(), answer.value.end());
                    const bool changed = value != raw->value;
                    raw->value = std::move(value);
                    if (changed)
                        raw->object->emitPropertiesChangedSignal(kGattCharacteristic, {"Value"});
                    result.returnResults(raw->value);
                });
        o.registerMethod("WriteValue")
            .onInterface(kGattCharacteristic)
            .implementedAs([this, device, raw](sdbus::Result<>&& result,
                                               const std::vector<uint8_t>& value,
                                               const VariantMap& options) {
                std::string type = "request";
                if (auto it = options.find("type"); it != options.end())
                    type = it->second.get<std::string>();
                {
                    std::lock_guard lock(owner->mutex_);
                    owner->writeTypes_[raw->uuid].push_back(type);
                }
                auto kind =
                    type == "command" ? BleWriteType::withoutResponse : BleWriteType::withResponse;
                if (auto error =
                        device->module->write(raw->uuid, Data(value.begin(), value.end()), kind))
                    result.returnError(failed(error->description));
                else if (lockedCopy(owner->mutex_, owner->writesOpen_))
                    device->openCalls.push_back(openCall(std::move(result)));
                else
                    result.returnResults();
            });
        o.registerMethod("StartNotify")
            .onInterface(kGattCharacteristic)
            .implementedAs([this, device, raw](sdbus::Result<>&& result) {
                if (!raw->notifying) {
                    if (auto refused = device->module->setNotifying(raw->uuid, true)) {
                        result.returnError(
                            sdbus::Error("org.bluez.Error.NotPermitted", refused->description));
                        return;
                    }
                    raw->notifying = true;
                    raw->object->emitPropertiesChangedSignal(kGattCharacteristic, {"Notifying"});
                }
                if (lockedCopy(owner->mutex_, owner->writesOpen_))
                    device->openCalls.push_back(openCall(std::move(result)));
                else
                    result.returnResults();
            });
        o.registerMethod("StopNotify")
            .onInterface(kGattCharacteristic)
            .implementedAs([device, raw] {
                raw->notifying = false;
                raw->object->emitPropertiesChangedSignal(kGattCharacteristic, {"Notifying"});
                device->module->setNotifying(raw->uuid, false);
            });
        o.finishRegistration();
        o.emitInterfacesAddedSignal();
    }

    void notified(Device& d, const std::string& uuid, const Data& value) {
        for (auto& c : d.characteristics) {
            if (c->uuid != uuid || !c->notifying) continue;
            c->value.assign(value.begin(), value.end());
            c->object->emitPropertiesChangedSignal(kGattCharacteristic, {"Value"});
        }
    }

    void shutdown() {
        for (auto& d : devices) {
            if (d->connected) d->module->detach();
            d->pendingConnect.reset();
            d->openCalls.clear();
            d->lateCalls.clear();
            d->characteristics.clear();
            d->services.clear();
            d->object.reset();
        }
        devices.clear();
        adapters.clear();
        connection = nullptr;
    }
};

std::shared_ptr<FakeBlueZ> FakeBlueZ::start(const std::string& busAddress, Options options) {
    std::shared_ptr<FakeBlueZ> fake(new FakeBlueZ(std::move(options)));
    fake->loop_ = BusLoop::start(busAddress, "org.bluez");
    fake->bus_ = std::make_shared<Bus>();
    fake->bus_->owner = fake.get();
    fake->bus_->loop = fake->loop_;
    auto bus = fake->bus_;
    auto* owner = fake.get();
    fake->loop_->post([bus, owner](sdbus::IConnection* connection) {
        if (!connection) return;
        bus->connection = connection;
        connection->addObjectManager("/", sdbus::floating_slot);
        bus->addAdapter(owner->options_.adapter, owner->options_.address, owner->options_.powered);
        lockedAssign(owner->mutex_, owner->serving_, true);
    });
    fake->sync();
    return fake;
}

FakeBlueZ::~FakeBlueZ() {
    stop();
}

void FakeBlueZ::stop() {
    if (!loop_) return;
    auto bus = bus_;
    loop_->post([bus](sdbus::IConnection*) { bus->shutdown(); });
    loop_->stop();
    loop_.reset();
}

void FakeBlueZ::sync() {
    if (!loop_) return;
    struct Done {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
    };
    auto done = std::make_shared<Done>();
    loop_->post([done](sdbus::IConnection*) {
        std::lock_guard lock(done->mutex);
        done->done = true;
        done->cv.notify_all();
    });
    std::unique_lock lock(done->mutex);
    done->cv.wait(lock, [&] { return done->done; });
}

std::shared_ptr<void> FakeBlueZ::hold() {
    if (!loop_) return nullptr;
    auto gate = std::make_shared<std::promise<void>>();
    auto stalled = std::make_shared<std::promise<void>>();
    auto started = stalled->get_future();
    loop_->post([held = gate->get_future().share(), stalled](sdbus::IConnection*) {
        stalled->set_value();
        held.wait();
    });
    // Stalled from here on: what reaches the fake now waits for the release.
    started.wait();
    return std::shared_ptr<void>(nullptr, [gate](void*) { gate->set_value(); });
}

void FakeBlueZ::add(const std::shared_ptr<SimulatedBGX13>& module) {
    auto bus = bus_;
    loop_->post([bus, module](sdbus::IConnection* c) {
        if (c) bus->add(module);
    });
}

void FakeBlueZ::remove(const std::shared_ptr<SimulatedBGX13>& module) {
    auto bus = bus_;
    loop_->post([bus, module](sdbus::IConnection* c) {
        if (c) bus->remove(module);
    });
}

void FakeBlueZ::forget(const std::shared_ptr<SimulatedBGX13>& module) {
    auto bus = bus_;
    loop_->post([bus, module](sdbus::IConnection* c) {
        if (!c) return;
        for (auto& d : bus->devices)
            if (d->module == module) {
                d->inReach = false;
                bus->forget(*d);
            }
    });
}

void FakeBlueZ::setPowered(bool on) {
    auto bus = bus_;
    loop_->post([bus, on](sdbus::IConnection* c) {
        if (c) bus->power(bus->primary(), on);
    });
}

void FakeBlueZ::addAdapter(const std::string& name) {
    auto bus = bus_;
    loop_->post([bus, name](sdbus::IConnection* c) {
        if (c) bus->addAdapter(name, "00:1A:7D:DA:71:14", true);
    });
}

void FakeBlueZ::failOpenCallsLate(bool late) {
    lockedAssign(mutex_, lateFailures_, late);
}

void FakeBlueZ::leaveWritesOpen(bool open) {
    lockedAssign(mutex_, writesOpen_, open);
}

bool FakeBlueZ::serving() const {
    return lockedCopy(mutex_, serving_);
}

bool FakeBlueZ::discovering() const {
    return lockedCopy(mutex_, discovering_);
}

std::vector<std::string> FakeBlueZ::filterUuids() const {
    return lockedCopy(mutex_, filterUuids_);
}

std::string FakeBlueZ::filterTransport() const {
    return lockedCopy(mutex_, filterTransport_);
}

int FakeBlueZ::connectCalls() const {
    return lockedCopy(mutex_, connectCalls_);
}

std::vector<std::string> FakeBlueZ::writeTypes(const std::string& uuid) const {
    std::lock_guard lock(mutex_);
    auto it = writeTypes_.find(uuid);
    return it == writeTypes_.end() ? std::vector<std::string>{} : it->second;
}

std::string FakeBlueZ::devicePath(const SimulatedBGX13& module) const {
    std::string address = module.options().address;
    std::replace(address.begin(), address.end(), ':', '_');
    return "/org/bluez/" + options_.adapter + "/dev_" + address;
}

}  // namespace qz::sim
