#include "platform/ble/BlueZCentral.hpp"

#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <set>

#include <sdbus-c++/sdbus-c++.h>

#include "platform/Locked.hpp"
#include "platform/ble/BusLoop.hpp"

namespace qz {

namespace {

constexpr const char* kService = "org.bluez";
constexpr const char* kAdapter = "org.bluez.Adapter1";
constexpr const char* kDevice = "org.bluez.Device1";
constexpr const char* kGattService = "org.bluez.GattService1";
constexpr const char* kGattCharacteristic = "org.bluez.GattCharacteristic1";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kObjectManager = "org.freedesktop.DBus.ObjectManager";
constexpr const char* kErrorPrefix = "org.bluez.Error.";

using Props = std::map<std::string, sdbus::Variant>;
using Interfaces = std::map<std::string, Props>;
using ManagedObjects = std::map<sdbus::ObjectPath, Interfaces>;

template <class T>
std::optional<T> property(const Props& props, const char* key) {
    auto it = props.find(key);
    if (it == props.end()) return std::nullopt;
    try {
        if (it->second.containsValueOfType<T>()) return it->second.get<T>();
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

// A BlueZ error as the driver sees it; the codes follow BlueZ's list of error names.
BleError errorOf(const sdbus::Error& error) {
    static const char* names[] = {"Failed",           "InProgress",    "NotPermitted",
                                  "NotAuthorized",    "NotSupported",  "NotConnected",
                                  "AlreadyConnected", "NotReady",      "DoesNotExist",
                                  "InvalidArguments", "InvalidOffset", "AuthenticationFailed"};
    std::string name = error.getName();
    BleError out{"org.bluez.Error", 0,
                 name + (error.getMessage().empty() ? "" : ": ") + error.getMessage()};
    if (name.rfind(kErrorPrefix, 0) == 0) {
        std::string shortName = name.substr(std::string(kErrorPrefix).size());
        for (int i = 0; i < 12; ++i)
            if (shortName == names[i]) out.code = i + 1;
    } else {
        out.domain = name.substr(0, name.rfind('.'));
    }
    return out;
}

BleError linkLost() {
    return BleError{"org.bluez.Error", 6, "The link to the device was lost."};
}

BleError serviceGone() {
    return BleError{"org.bluez.Error", 1, "org.bluez went away."};
}

uint32_t propertiesOf(const std::vector<std::string>& flags) {
    uint32_t bits = 0;
    for (const auto& f : flags) {
        if (f == "broadcast") bits |= BleProperty::broadcast;
        if (f == "read") bits |= BleProperty::read;
        if (f == "write-without-response") bits |= BleProperty::writeWithoutResponse;
        if (f == "write") bits |= BleProperty::write;
        if (f == "notify") bits |= BleProperty::notify;
        if (f == "indicate") bits |= BleProperty::indicate;
    }
    return bits;
}

bool under(const std::string& path, const std::string& parent) {
    return path.size() > parent.size() && path.compare(0, parent.size(), parent) == 0 &&
           path[parent.size()] == '/';
}

}  // namespace

UUID BlueZCentral::identifierForAddress(const std::string& address) {
    // Name-based (version 5) in a namespace of our own.
    static const uint8_t ns[16] = {0x6f, 0x1c, 0x2b, 0x64, 0x4a, 0x0e, 0x4d, 0x53,
                                   0x9b, 0x2f, 0x51, 0x3e, 0x0b, 0xa7, 0x13, 0x42};
    std::string upper = address;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    Data input(ns, ns + 16);
    input.insert(input.end(), upper.begin(), upper.end());
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(input.data(), input.size(), digest, &length, EVP_sha1(), nullptr);
    UUID::Bytes bytes{};
    std::copy(digest, digest + 16, bytes.begin());
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x50);
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);
    return UUID(bytes);
}

// MARK: peripheral

class BlueZPeripheral : public BlePeripheral, public std::enable_shared_from_this<BlueZPeripheral> {
  public:
    BlueZPeripheral(std::weak_ptr<BlueZCentral::Impl> central, std::string path, UUID identifier,
                    std::shared_ptr<DispatchQueue> queue)
        : central_(std::move(central)),
          path_(std::move(path)),
          identifier_(identifier),
          queue_(std::move(queue)) {}

    const std::string& path() const { return path_; }
    UUID identifier() const override { return identifier_; }
    std::optional<std::string> name() const override { return lockedCopy(mutex_, name_); }
    void setName(std::optional<std::string> name) { lockedAssign(mutex_, name_, std::move(name)); }
    void setDelegate(std::weak_ptr<BlePeripheralDelegate> delegate) override {
        lockedAssign(mutex_, delegate_, std::move(delegate));
    }
    void setMtu(size_t mtu) { mtu_ = mtu; }
    // The last signal strength BlueZ reported for the device (it forgets it between scans).
    std::optional<int> lastRssi() const { return lockedCopy(mutex_, rssi_); }
    void setRssi(int rssi) { lockedAssign(mutex_, rssi_, std::optional<int>(rssi)); }

    void discoverServices() override;
    void discoverCharacteristics(const BleService& service) override;
    void readValue(const BleCharacteristic& characteristic) override;
    void writeValue(const Data& value, const BleCharacteristic& characteristic,
                    BleWriteType type) override;
    void setNotifyValue(bool enabled, const BleCharacteristic& characteristic) override;
    void readRSSI() override;
    size_t maximumWriteValueLength(BleWriteType) const override {
        size_t mtu = mtu_.load();
        return mtu > 3 ? mtu - 3 : 20;
    }

    // Calls the delegate on the central's queue.
    void deliver(
        std::function<void(BlePeripheralDelegate&, const std::shared_ptr<BlePeripheral>&)> call) {
        std::weak_ptr<BlueZPeripheral> weak = weak_from_this();
        queue_->async([weak, call = std::move(call)] {
            auto self = weak.lock();
            if (!self) return;
            if (auto d = lockedCopy(self->mutex_, self->delegate_).lock()) call(*d, self);
        });
    }

  private:
    const std::weak_ptr<BlueZCentral::Impl> central_;
    const std::string path_;
    const UUID identifier_;
    const std::shared_ptr<DispatchQueue> queue_;
    std::atomic<size_t> mtu_{0};
    mutable std::mutex mutex_;
    std::optional<std::string> name_;
    std::optional<int> rssi_;
    std::weak_ptr<BlePeripheralDelegate> delegate_;
};

// MARK: central state

struct BlueZCentral::Impl : std::enable_shared_from_this<BlueZCentral::Impl> {
    struct Write {
        Data value;
        BleCharacteristic characteristic;
        BleWriteType type;
    };
    // One device's link, as the central sees it (bus thread only).
    struct Link {
        bool pending = false;     // Connect called, not yet reported
        bool connected = false;   // reported connected
        bool cancelling = false;  // Disconnect asked for
        uint64_t attempt = 0;     // the Connect call whose reply counts
        std::deque<Write> writes;
        bool writing = false;
    };

    BlueZOptions options;
    std::shared_ptr<DispatchQueue> queue;
    std::weak_ptr<BleCentralDelegate> delegate;
    std::shared_ptr<BusLoop> loop;
    std::atomic<BleManagerState> state{BleManagerState::unknown};
    bool stateReported = false;

    mutable std::mutex mutex;  // guards `peripherals` and `adapter`
    std::map<std::string, std::shared_ptr<BlueZPeripheral>> peripherals;
    std::string adapter;

    // Bus thread only.
    sdbus::IConnection* connection = nullptr;
    std::unique_ptr<sdbus::IProxy> busProxy;
    std::string owner;  // the unique name that owns org.bluez; empty while none does
    std::map<std::string, std::unique_ptr<sdbus::IProxy>> proxies;
    std::vector<sdbus::Slot> matches;
    std::map<std::string, Interfaces> objects;
    bool scanning = false;
    std::vector<std::string> filter;
    std::set<std::string> reported;  // devices reported by this scan
    std::map<std::string, Link> links;
    uint64_t attempts = 0;
    // Characteristics asked to notify: their Value changes are notifications (a read changes
    // Value too, and is answered by its reply).
    std::set<std::string> notifying;

    // MARK: plumbing

    void post(std::function<void(Impl&)> work) {
        std::weak_ptr<Impl> weak = weak_from_this();
        loop->post([weak, work = std::move(work)](sdbus::IConnection*) {
            if (auto self = weak.lock())
                if (self->connection) work(*self);
        });
    }

    void deliver(std::function<void(BleCentralDelegate&)> call) {
        queue->async([d = delegate, call = std::move(call)] {
            if (auto delegate = d.lock()) call(*delegate);
        });
    }

    void setState(BleManagerState next) {
        if (stateReported && state.load() == next) return;
        stateReported = true;
        state = next;
        deliver([next](BleCentralDelegate& d) { d.centralManagerDidUpdateState(next); });
    }

    sdbus::IProxy& proxy(const std::string& path) {
        auto& p = proxies[path];
        if (!p) p = sdbus::createProxy(*connection, kService, path);
        return *p;
    }

    std::string adapterPath() const { return lockedCopy(mutex, adapter); }

    std::shared_ptr<BlueZPeripheral> peripheral(const std::string& path) {
        std::lock_guard lock(mutex);
        auto it = peripherals.find(path);
        return it == peripherals.end() ? nullptr : it->second;
    }

    // The peripheral of a device object (made on first sight).
    std::shared_ptr<BlueZPeripheral> peripheralFor(const std::string& path, const Props& device) {
        std::shared_ptr<BlueZPeripheral> p;
        {
            std::lock_guard lock(mutex);
            auto& slot = peripherals[path];
            if (!slot) {
                auto address = property<std::string>(device, "Address").value_or(path);
                slot = std::make_shared<BlueZPeripheral>(weak_from_this(), path,
                                                         identifierForAddress(address), queue);
            }
            p = slot;
        }
        if (auto name = property<std::string>(device, "Name")) p->setName(name);
        if (auto rssi = property<int16_t>(device, "RSSI")) p->setRssi(*rssi);
        return p;
    }

    // MARK: start-up

    void start(sdbus::IConnection* bus) {
        connection = bus;
        if (!connection) {
            bleLog("BlueZ: no bus: " + loop->error().value_or("unknown error"));
            setState(BleManagerState::unsupported);
            return;
        }
        std::weak_ptr<Impl> weak = weak_from_this();
        auto handler = [weak](sdbus::Message& message) {
            if (auto self = weak.lock()) self->signal(message);
        };
        try {
            matches.push_back(connection->addMatch(
                "type='signal',sender='org.bluez',interface='org.freedesktop.DBus.Properties',"
                "member='PropertiesChanged'",
                handler));
            matches.push_back(connection->addMatch(
                "type='signal',sender='org.bluez',interface='org.freedesktop.DBus.ObjectManager'",
                handler));
            // bluetoothd stopping, starting or restarting: the owner of its name changes.
            matches.push_back(connection->addMatch(
                "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                "member='NameOwnerChanged',arg0='org.bluez'",
                handler));
            busProxy =
                sdbus::createProxy(*connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
            busProxy->callMethodAsync("GetNameOwner")
                .onInterface("org.freedesktop.DBus")
                .withArguments(std::string(kService))
                .uponReplyInvoke([weak](const sdbus::Error* error, const std::string& owner) {
                    auto self = weak.lock();
                    if (!self) return;
                    if (error) {
                        bleLog("BlueZ: org.bluez not reachable: " + std::string(error->what()));
                        self->setState(BleManagerState::unsupported);
                        return;
                    }
                    self->ownerChanged(owner);
                });
        } catch (const sdbus::Error& e) {
            bleLog("BlueZ: " + std::string(e.what()));
            setState(BleManagerState::unsupported);
        }
    }

    // MARK: the service itself

    // org.bluez has a new owner (empty: none). Whatever the old one knew is gone: its links end
    // with their reports and its objects are forgotten; a new one is read afresh.
    void ownerChanged(const std::string& next) {
        if (next == owner) return;
        if (!owner.empty()) serviceLost();
        owner = next;
        if (owner.empty()) return;
        std::weak_ptr<Impl> weak = weak_from_this();
        const std::string expected = owner;
        proxy("/")
            .callMethodAsync("GetManagedObjects")
            .onInterface(kObjectManager)
            .uponReplyInvoke(
                [weak, expected](const sdbus::Error* error, const ManagedObjects& all) {
                    auto self = weak.lock();
                    if (self && self->owner == expected) self->managedObjects(error, all);
                });
    }

    void serviceLost() {
        bleLog("BlueZ: org.bluez went away");
        for (const auto& [path, link] : links) {
            auto p = peripheral(path);
            if (!p || (!link.pending && !link.connected)) continue;
            std::shared_ptr<BlePeripheral> handle = p;
            if (link.connected)
                deliver([handle](BleCentralDelegate& d) {
                    d.didDisconnectPeripheral(handle, linkLost());
                });
            else
                deliver([handle](BleCentralDelegate& d) {
                    d.didFailToConnectPeripheral(handle, serviceGone());
                });
        }
        links.clear();
        notifying.clear();
        objects.clear();
        reported.clear();
        // Calls still waiting for the old owner are answered by nobody: their proxies go.
        proxies.clear();
        scanning = false;
        lockedAssign(mutex, adapter, std::string());
        setState(BleManagerState::resetting);
    }

    void managedObjects(const sdbus::Error* error, const ManagedObjects& all) {
        if (error) {
            bleLog("BlueZ: org.bluez not reachable: " + std::string(error->what()));
            setState(BleManagerState::unsupported);
            return;
        }
        for (const auto& [path, interfaces] : all) objects[path] = interfaces;
        chooseAdapter();
    }

    // The adapter named in the options, else the first one listed; its power is the state.
    void chooseAdapter() {
        std::string chosen;
        for (const auto& [path, interfaces] : objects) {
            if (!interfaces.count(kAdapter)) continue;
            if (options.adapter.empty() || path == "/org/bluez/" + options.adapter) {
                chosen = path;
                break;
            }
        }
        lockedAssign(mutex, adapter, chosen);
        if (chosen.empty()) {
            bleLog("BlueZ: no adapter" +
                   (options.adapter.empty() ? std::string() : " " + options.adapter));
            setState(BleManagerState::unsupported);
            return;
        }
        for (const auto& [path, interfaces] : objects)
            if (interfaces.count(kDevice)) peripheralFor(path, interfaces.at(kDevice));
        powerState();
    }

    void powerState() {
        auto powered = property<bool>(objects[adapterPath()][kAdapter], "Powered").value_or(false);
        if (!powered) scanning = false;
        setState(powered ? BleManagerState::poweredOn : BleManagerState::poweredOff);
    }

    // MARK: signals

    void signal(sdbus::Message& message) {
        try {
            const std::string member = message.getMemberName();
            if (member == "NameOwnerChanged") {
                std::string name, before, after;
                message >> name >> before >> after;
                if (name == kService) ownerChanged(after);
            } else if (member == "PropertiesChanged") {
                std::string interface;
                Props changed;
                std::vector<std::string> invalidated;
                message >> interface >> changed >> invalidated;
                propertiesChanged(message.getPath(), interface, changed, invalidated);
            } else if (member == "InterfacesAdded") {
                sdbus::ObjectPath path;
                Interfaces added;
                message >> path >> added;
                interfacesAdded(path, added);
            } else if (member == "InterfacesRemoved") {
                sdbus::ObjectPath path;
                std::vector<std::string> removed;
                message >> path >> removed;
                interfacesRemoved(path, removed);
            }
        } catch (const sdbus::Error& e) {
            bleLog("BlueZ: unreadable signal: " + std::string(e.what()));
        }
    }

    void interfacesAdded(const std::string& path, const Interfaces& added) {
        for (const auto& [interface, props] : added) {
            auto& known = objects[path][interface];
            for (const auto& [key, value] : props) known[key] = value;
        }
        if (added.count(kAdapter) && adapterPath().empty()) {
            chooseAdapter();
            return;
        }
        if (added.count(kDevice)) deviceSeen(path);
        if (added.count(kGattCharacteristic)) characteristicSeen(path);
    }

    void interfacesRemoved(const std::string& path, const std::vector<std::string>& removed) {
        auto it = objects.find(path);
        if (it == objects.end()) return;
        for (const auto& interface : removed) it->second.erase(interface);
        if (it->second.empty()) objects.erase(it);
        if (std::find(removed.begin(), removed.end(), kDevice) != removed.end()) {
            linkClosed(path);
            // A device BlueZ let go of and finds again is a new sighting of this scan.
            reported.erase(path);
        }
        if (std::find(removed.begin(), removed.end(), kGattCharacteristic) != removed.end())
            notifying.erase(path);
        if (path == adapterPath() &&
            std::find(removed.begin(), removed.end(), kAdapter) != removed.end()) {
            lockedAssign(mutex, adapter, std::string());
            setState(BleManagerState::unsupported);
        }
    }

    void propertiesChanged(const std::string& path, const std::string& interface,
                           const Props& changed, const std::vector<std::string>& invalidated) {
        auto& known = objects[path][interface];
        for (const auto& [key, value] : changed) known[key] = value;
        for (const auto& key : invalidated) known.erase(key);
        if (interface == kAdapter && path == adapterPath() && changed.count("Powered")) {
            powerState();
        } else if (interface == kDevice) {
            if (auto p = peripheral(path))
                if (auto name = property<std::string>(known, "Name")) p->setName(name);
            if (changed.count("RSSI") || changed.count("UUIDs") || changed.count("Name"))
                deviceSeen(path);
            deviceLinkChanged(path);
        } else if (interface == kGattCharacteristic) {
            if (changed.count("MTU")) characteristicSeen(path);
            if (changed.count("Value")) valueNotified(path, known);
        }
    }

    // MARK: discovery

    bool matchesFilter(const Props& device) const {
        if (filter.empty()) return true;
        auto uuids = property<std::vector<std::string>>(device, "UUIDs")
                         .value_or(std::vector<std::string>{});
        for (const auto& u : uuids)
            if (std::find(filter.begin(), filter.end(), normalizedBleUUID(u)) != filter.end())
                return true;
        return false;
    }

    void deviceSeen(const std::string& path) {
        const std::string adapterNow = adapterPath();
        if (adapterNow.empty() || !under(path, adapterNow)) return;
        const Props& device = objects[path][kDevice];
        auto p = peripheralFor(path, device);
        if (!scanning || reported.count(path) || !matchesFilter(device)) return;
        reported.insert(path);
        BleAdvertisement advertisement;
        advertisement.localName = property<std::string>(device, "Name");
        for (const auto& u : property<std::vector<std::string>>(device, "UUIDs")
                                 .value_or(std::vector<std::string>{}))
            advertisement.serviceUuids.push_back(normalizedBleUUID(u));
        int rssi = property<int16_t>(device, "RSSI").value_or(0);
        std::shared_ptr<BlePeripheral> handle = p;
        deliver([handle, advertisement, rssi](BleCentralDelegate& d) {
            d.didDiscoverPeripheral(handle, advertisement, rssi);
        });
    }

    void scan(const std::vector<std::string>& uuids) {
        if (state.load() != BleManagerState::poweredOn) return;
        filter.clear();
        for (const auto& u : uuids) filter.push_back(normalizedBleUUID(u));
        reported.clear();
        scanning = true;
        std::map<std::string, sdbus::Variant> discoveryFilter;
        discoveryFilter["UUIDs"] = sdbus::Variant(filter);
        discoveryFilter["Transport"] = sdbus::Variant(std::string("le"));
        std::weak_ptr<Impl> weak = weak_from_this();
        auto& adapterProxy = proxy(adapterPath());
        adapterProxy.callMethodAsync("SetDiscoveryFilter")
            .onInterface(kAdapter)
            .withArguments(discoveryFilter)
            .uponReplyInvoke([](const sdbus::Error* error) {
                if (error) bleLog("BlueZ: SetDiscoveryFilter: " + std::string(error->what()));
            });
        adapterProxy.callMethodAsync("StartDiscovery")
            .onInterface(kAdapter)
            .uponReplyInvoke([weak](const sdbus::Error* error) {
                // Already discovering (for another client) is fine.
                if (error && error->getName() != "org.bluez.Error.InProgress")
                    bleLog("BlueZ: StartDiscovery: " + std::string(error->what()));
            });
        // Devices BlueZ already sees that advertise the service.
        for (const auto& [path, interfaces] : objects)
            if (interfaces.count(kDevice) && property<int16_t>(interfaces.at(kDevice), "RSSI"))
                deviceSeen(path);
    }

    void stopScanning() {
        if (!scanning) return;
        scanning = false;
        if (adapterPath().empty()) return;
        proxy(adapterPath())
            .callMethodAsync("StopDiscovery")
            .onInterface(kAdapter)
            .uponReplyInvoke([](const sdbus::Error*) {});
    }

    // MARK: links

    void connect(const std::shared_ptr<BlueZPeripheral>& p) {
        std::shared_ptr<BlePeripheral> handle = p;
        if (state.load() != BleManagerState::poweredOn || !objects.count(p->path())) {
            deliver([handle](BleCentralDelegate& d) {
                d.didFailToConnectPeripheral(handle, BleError{"org.bluez.Error", 8, "Not ready"});
            });
            return;
        }
        auto& link = links[p->path()];
        if (link.connected) {
            deliver([handle](BleCentralDelegate& d) { d.didConnectPeripheral(handle); });
            return;
        }
        // The attempt under way answers for this one too (a second Connect would fail with
        // InProgress and leave the first one's link unreported).
        if (link.pending) return;
        link.pending = true;
        link.cancelling = false;
        link.attempt = ++attempts;
        std::weak_ptr<Impl> weak = weak_from_this();
        std::string path = p->path();
        proxy(path)
            .callMethodAsync("Connect")
            .onInterface(kDevice)
            .withTimeout(std::chrono::seconds(60))
            .uponReplyInvoke([weak, path, attempt = link.attempt](const sdbus::Error* error) {
                if (auto self = weak.lock()) self->connectReplied(path, attempt, error);
            });
    }

    void connectReplied(const std::string& path, uint64_t attempt, const sdbus::Error* error) {
        // The reply of an attempt cancelled meanwhile says nothing about a later one.
        auto lit = links.find(path);
        if (lit == links.end() || !lit->second.pending || lit->second.attempt != attempt) return;
        auto& link = lit->second;
        if (error && error->getName() != "org.bluez.Error.AlreadyConnected") {
            link.pending = false;
            auto p = peripheral(path);
            std::shared_ptr<BlePeripheral> handle = p;
            BleError failure = errorOf(*error);
            deliver([handle, failure](BleCentralDelegate& d) {
                d.didFailToConnectPeripheral(handle, failure);
            });
            return;
        }
        deviceLinkChanged(path);
    }

    // Reports a link that came up (connected with its services resolved) or went down.
    void deviceLinkChanged(const std::string& path) {
        auto lit = links.find(path);
        if (lit == links.end()) return;
        auto& link = lit->second;
        const Props& device = objects[path][kDevice];
        bool connected = property<bool>(device, "Connected").value_or(false);
        bool resolved = property<bool>(device, "ServicesResolved").value_or(false);
        auto p = peripheral(path);
        if (!p) return;
        std::shared_ptr<BlePeripheral> handle = p;
        if (link.pending && connected && resolved) {
            link.pending = false;
            link.connected = true;
            updateMtu(path);
            deliver([handle](BleCentralDelegate& d) { d.didConnectPeripheral(handle); });
        } else if (link.connected && !connected) {
            linkClosed(path);
        }
    }

    void linkClosed(const std::string& path) {
        auto lit = links.find(path);
        if (lit == links.end() || !lit->second.connected) return;
        bool asked = lit->second.cancelling;
        links.erase(lit);
        std::erase_if(notifying, [&](const std::string& c) { return under(c, path); });
        auto p = peripheral(path);
        if (!p) return;
        std::shared_ptr<BlePeripheral> handle = p;
        std::optional<BleError> error;
        if (!asked) error = linkLost();
        deliver(
            [handle, error](BleCentralDelegate& d) { d.didDisconnectPeripheral(handle, error); });
    }

    void cancel(const std::shared_ptr<BlueZPeripheral>& p) {
        auto lit = links.find(p->path());
        if (lit == links.end() || (!lit->second.pending && !lit->second.connected)) return;
        auto& link = lit->second;
        std::shared_ptr<BlePeripheral> handle = p;
        std::weak_ptr<Impl> weak = weak_from_this();
        const std::string path = p->path();
        const uint64_t id = link.attempt;
        proxy(path)
            .callMethodAsync("Disconnect")
            .onInterface(kDevice)
            .uponReplyInvoke([weak, path, id](const sdbus::Error* error) {
                auto self = weak.lock();
                if (self && error) self->disconnectFailed(path, id, *error);
            });
        if (link.connected) {
            // Reported when BlueZ says the link is down.
            link.cancelling = true;
            return;
        }
        links.erase(lit);
        deliver(
            [handle](BleCentralDelegate& d) { d.didDisconnectPeripheral(handle, std::nullopt); });
    }

    // BlueZ would not close the link: it ends here all the same (the device is treated as gone,
    // a later connect starts afresh). Its subscriptions are left, so that a new link's
    // subscriptions reach the module again.
    void disconnectFailed(const std::string& path, uint64_t id, const sdbus::Error& error) {
        bleLog("BlueZ: Disconnect: " + std::string(error.what()));
        auto it = links.find(path);
        if (it == links.end() || !it->second.connected || it->second.attempt != id) return;
        for (const auto& c : notifying)
            if (under(c, path))
                proxy(c)
                    .callMethodAsync("StopNotify")
                    .onInterface(kGattCharacteristic)
                    .uponReplyInvoke([](const sdbus::Error*) {});
        linkClosed(path);
    }

    bool isConnected(const std::string& path) const {
        auto it = links.find(path);
        return it != links.end() && it->second.connected;
    }

    // Whether the link to `path` that was `id` is still up: answers for a link that closed
    // (or that a newer one replaced) are dropped.
    bool isCurrent(const std::string& path, uint64_t id) const {
        auto it = links.find(path);
        return it != links.end() && it->second.connected && !it->second.cancelling &&
               it->second.attempt == id;
    }

    uint64_t linkId(const std::string& path) const {
        auto it = links.find(path);
        return it == links.end() ? 0 : it->second.attempt;
    }

    // MARK: GATT

    void updateMtu(const std::string& devicePath) {
        auto p = peripheral(devicePath);
        if (!p) return;
        for (const auto& [path, interfaces] : objects) {
            if (!under(path, devicePath)) continue;
            auto it = interfaces.find(kGattCharacteristic);
            if (it == interfaces.end()) continue;
            if (auto mtu = property<uint16_t>(it->second, "MTU")) {
                p->setMtu(*mtu);
                return;
            }
        }
    }

    void characteristicSeen(const std::string& path) {
        for (const auto& [devicePath, link] : links)
            if (under(path, devicePath)) updateMtu(devicePath);
    }

    std::vector<BleService> services(const std::string& devicePath) const {
        std::vector<BleService> out;
        for (const auto& [path, interfaces] : objects) {
            auto it = interfaces.find(kGattService);
            if (it == interfaces.end()) continue;
            auto device = property<sdbus::ObjectPath>(it->second, "Device");
            if (!(device ? *device == devicePath : under(path, devicePath))) continue;
            if (auto uuid = property<std::string>(it->second, "UUID"))
                out.push_back({normalizedBleUUID(*uuid), path});
        }
        return out;
    }

    std::vector<BleCharacteristic> characteristics(const BleService& service) const {
        std::vector<BleCharacteristic> out;
        for (const auto& [path, interfaces] : objects) {
            auto it = interfaces.find(kGattCharacteristic);
            if (it == interfaces.end()) continue;
            auto owner = property<sdbus::ObjectPath>(it->second, "Service");
            if (!(owner ? *owner == service.key : under(path, service.key))) continue;
            auto uuid = property<std::string>(it->second, "UUID");
            if (!uuid) continue;
            auto flags = property<std::vector<std::string>>(it->second, "Flags")
                             .value_or(std::vector<std::string>{});
            out.push_back({normalizedBleUUID(*uuid), propertiesOf(flags), service.uuid, path});
        }
        return out;
    }

    // The characteristic behind an object path, for value notifications.
    std::optional<BleCharacteristic> characteristicAt(const std::string& path) const {
        auto it = objects.find(path);
        if (it == objects.end()) return std::nullopt;
        auto c = it->second.find(kGattCharacteristic);
        if (c == it->second.end()) return std::nullopt;
        auto service =
            property<sdbus::ObjectPath>(c->second, "Service").value_or(sdbus::ObjectPath());
        std::string serviceUuid;
        if (auto s = objects.find(service); s != objects.end())
            if (auto g = s->second.find(kGattService); g != s->second.end())
                serviceUuid =
                    normalizedBleUUID(property<std::string>(g->second, "UUID").value_or(""));
        auto flags = property<std::vector<std::string>>(c->second, "Flags")
                         .value_or(std::vector<std::string>{});
        return BleCharacteristic{
            normalizedBleUUID(property<std::string>(c->second, "UUID").value_or("")),
            propertiesOf(flags), serviceUuid, path};
    }

    std::shared_ptr<BlueZPeripheral> peripheralOfCharacteristic(const std::string& path) {
        std::lock_guard lock(mutex);
        for (const auto& [devicePath, p] : peripherals)
            if (under(path, devicePath)) return p;
        return nullptr;
    }

    void valueNotified(const std::string& path, const Props& props) {
        if (!notifying.count(path)) return;
        auto p = peripheralOfCharacteristic(path);
        if (!p || !isConnected(p->path())) return;
        auto c = characteristicAt(path);
        auto value = property<std::vector<uint8_t>>(props, "Value");
        if (!c || !value) return;
        Data bytes(value->begin(), value->end());
        BleCharacteristic characteristic = *c;
        p->deliver([characteristic, bytes](BlePeripheralDelegate& d,
                                           const std::shared_ptr<BlePeripheral>& peripheral) {
            d.didUpdateValueForCharacteristic(peripheral, characteristic, bytes, std::nullopt);
        });
    }

    void read(const std::shared_ptr<BlueZPeripheral>& p, const BleCharacteristic& c) {
        std::weak_ptr<BlueZPeripheral> weak = p;
        std::weak_ptr<Impl> central = weak_from_this();
        const uint64_t id = linkId(p->path());
        proxy(c.key)
            .callMethodAsync("ReadValue")
            .onInterface(kGattCharacteristic)
            .withArguments(std::map<std::string, sdbus::Variant>{})
            .uponReplyInvoke([weak, central, id, c](const sdbus::Error* error,
                                                    const std::vector<uint8_t>& value) {
                auto peripheral = weak.lock();
                auto self = central.lock();
                if (!peripheral || !self || !self->isCurrent(peripheral->path(), id)) return;
                std::optional<BleError> failure;
                if (error) failure = errorOf(*error);
                Data bytes(value.begin(), value.end());
                peripheral->deliver(
                    [c, bytes, failure](BlePeripheralDelegate& d,
                                        const std::shared_ptr<BlePeripheral>& self) {
                        d.didUpdateValueForCharacteristic(self, c, bytes, failure);
                    });
            });
    }

    void write(const std::shared_ptr<BlueZPeripheral>& p, Write w) {
        auto& link = links[p->path()];
        link.writes.push_back(std::move(w));
        pumpWrites(p);
    }

    // One WriteValue call at a time per device, in call order.
    void pumpWrites(const std::shared_ptr<BlueZPeripheral>& p) {
        auto lit = links.find(p->path());
        if (lit == links.end() || lit->second.writing || lit->second.writes.empty()) return;
        auto& link = lit->second;
        Write w = std::move(link.writes.front());
        link.writes.pop_front();
        link.writing = true;
        std::map<std::string, sdbus::Variant> options;
        options["type"] = sdbus::Variant(
            std::string(w.type == BleWriteType::withResponse ? "request" : "command"));
        std::weak_ptr<Impl> weak = weak_from_this();
        std::weak_ptr<BlueZPeripheral> weakPeripheral = p;
        auto characteristic = w.characteristic;
        auto type = w.type;
        const uint64_t id = link.attempt;
        proxy(characteristic.key)
            .callMethodAsync("WriteValue")
            .onInterface(kGattCharacteristic)
            .withArguments(std::vector<uint8_t>(w.value.begin(), w.value.end()), options)
            .uponReplyInvoke([weak, weakPeripheral, characteristic, type,
                              id](const sdbus::Error* error) {
                auto self = weak.lock();
                auto peripheral = weakPeripheral.lock();
                if (!self || !peripheral || !self->isCurrent(peripheral->path(), id)) return;
                self->links[peripheral->path()].writing = false;
                std::optional<BleError> failure;
                if (error) failure = errorOf(*error);
                if (type == BleWriteType::withResponse || failure) {
                    peripheral->deliver(
                        [characteristic, failure](BlePeripheralDelegate& d,
                                                  const std::shared_ptr<BlePeripheral>& handle) {
                            d.didWriteValueForCharacteristic(handle, characteristic, failure);
                        });
                } else {
                    peripheral->deliver(
                        [](BlePeripheralDelegate& d, const std::shared_ptr<BlePeripheral>& handle) {
                            d.peripheralIsReadyToSendWriteWithoutResponse(handle);
                        });
                }
                self->pumpWrites(peripheral);
            });
    }

    void notify(const std::shared_ptr<BlueZPeripheral>& p, const BleCharacteristic& c,
                bool enabled) {
        if (enabled)
            notifying.insert(c.key);
        else
            notifying.erase(c.key);
        std::weak_ptr<Impl> weak = weak_from_this();
        std::weak_ptr<BlueZPeripheral> weakPeripheral = p;
        const uint64_t id = linkId(p->path());
        proxy(c.key)
            .callMethodAsync(enabled ? "StartNotify" : "StopNotify")
            .onInterface(kGattCharacteristic)
            .uponReplyInvoke([weak, weakPeripheral, id, c, enabled](const sdbus::Error* error) {
                auto self = weak.lock();
                auto peripheral = weakPeripheral.lock();
                if (!self || !peripheral || !self->isCurrent(peripheral->path(), id)) return;
                std::optional<BleError> failure;
                if (error) {
                    bleLog("BlueZ: notify " + c.uuid + ": " + std::string(error->what()));
                    failure = errorOf(*error);
                    if (enabled) self->notifying.erase(c.key);
                }
                peripheral->deliver([c, failure](BlePeripheralDelegate& d,
                                                 const std::shared_ptr<BlePeripheral>& handle) {
                    d.didUpdateNotificationStateForCharacteristic(handle, c, failure);
                });
            });
    }

    void rssi(const std::shared_ptr<BlueZPeripheral>& p) {
        auto value = p->lastRssi();
        std::optional<BleError> failure;
        if (!value) failure = BleError{"org.bluez.Error", 8, "No signal strength known"};
        int rssi = value.value_or(0);
        p->deliver([rssi, failure](BlePeripheralDelegate& d,
                                   const std::shared_ptr<BlePeripheral>& handle) {
            d.didReadRSSI(handle, rssi, failure);
        });
    }

    // The central goes, and the links it made or is making go with it: BlueZ would keep them up
    // for nobody, and no other central could use the device.
    void shutdown() {
        if (connection)
            for (const auto& [path, link] : links) {
                if (!link.pending && !link.connected) continue;
                try {
                    proxy(path)
                        .callMethodAsync("Disconnect")
                        .onInterface(kDevice)
                        .uponReplyInvoke([](const sdbus::Error*) {});
                } catch (const sdbus::Error& e) {
                    bleLog("BlueZ: Disconnect: " + std::string(e.what()));
                }
            }
        links.clear();
        matches.clear();
        proxies.clear();
        busProxy.reset();
        connection = nullptr;
    }
};

// MARK: peripheral requests

namespace {

// Runs `work` on the bus thread with the central, when the peripheral is connected.
void whenConnected(const std::weak_ptr<BlueZCentral::Impl>& central,
                   const std::shared_ptr<BlueZPeripheral>& p,
                   std::function<void(BlueZCentral::Impl&)> work) {
    auto impl = central.lock();
    if (!impl) return;
    std::string path = p->path();
    impl->post([path, work = std::move(work)](BlueZCentral::Impl& self) {
        if (self.isConnected(path)) work(self);
    });
}

}  // namespace

void BlueZPeripheral::discoverServices() {
    auto self = shared_from_this();
    whenConnected(central_, self, [self](BlueZCentral::Impl& impl) {
        auto list = impl.services(self->path());
        self->deliver([list](BlePeripheralDelegate& d, const std::shared_ptr<BlePeripheral>& p) {
            d.didDiscoverServices(p, list, std::nullopt);
        });
    });
}

void BlueZPeripheral::discoverCharacteristics(const BleService& service) {
    auto self = shared_from_this();
    whenConnected(central_, self, [self, service](BlueZCentral::Impl& impl) {
        auto list = impl.characteristics(service);
        self->deliver(
            [service, list](BlePeripheralDelegate& d, const std::shared_ptr<BlePeripheral>& p) {
                d.didDiscoverCharacteristicsForService(p, service, list, std::nullopt);
            });
    });
}

void BlueZPeripheral::readValue(const BleCharacteristic& characteristic) {
    auto self = shared_from_this();
    whenConnected(central_, self, [self, characteristic](BlueZCentral::Impl& impl) {
        impl.read(self, characteristic);
    });
}

void BlueZPeripheral::writeValue(const Data& value, const BleCharacteristic& characteristic,
                                 BleWriteType type) {
    auto self = shared_from_this();
    whenConnected(central_, self, [self, value, characteristic, type](BlueZCentral::Impl& impl) {
        impl.write(self, {value, characteristic, type});
    });
}

void BlueZPeripheral::setNotifyValue(bool enabled, const BleCharacteristic& characteristic) {
    auto self = shared_from_this();
    whenConnected(central_, self, [self, characteristic, enabled](BlueZCentral::Impl& impl) {
        impl.notify(self, characteristic, enabled);
    });
}

void BlueZPeripheral::readRSSI() {
    auto self = shared_from_this();
    whenConnected(central_, self, [self](BlueZCentral::Impl& impl) { impl.rssi(self); });
}

// MARK: central

std::shared_ptr<BlueZCentral> BlueZCentral::create(std::weak_ptr<BleCentralDelegate> delegate,
                                                   std::shared_ptr<DispatchQueue> queue,
                                                   BlueZOptions options) {
    auto impl = std::make_shared<Impl>();
    impl->options = std::move(options);
    impl->queue = queue ? std::move(queue) : DispatchQueue::main();
    impl->delegate = std::move(delegate);
    impl->loop = BusLoop::start(impl->options.busAddress);
    std::weak_ptr<Impl> weak = impl;
    impl->loop->post([weak](sdbus::IConnection* connection) {
        if (auto self = weak.lock()) self->start(connection);
    });
    return std::shared_ptr<BlueZCentral>(new BlueZCentral(std::move(impl)));
}

BleCentralFactory BlueZCentral::factory(BlueZOptions options) {
    return [options](std::weak_ptr<BleCentralDelegate> delegate,
                     std::shared_ptr<DispatchQueue> queue) -> std::shared_ptr<BleCentral> {
        return create(std::move(delegate), std::move(queue), options);
    };
}

BlueZCentral::~BlueZCentral() {
    // The D-Bus objects are let go on the bus thread, then the thread ends.
    auto impl = impl_;
    impl_->loop->post([impl](sdbus::IConnection*) { impl->shutdown(); });
    impl_->loop->stop();
}

BleManagerState BlueZCentral::state() const {
    return impl_->state.load();
}

std::shared_ptr<DispatchQueue> BlueZCentral::queue() const {
    return impl_->queue;
}

std::string BlueZCentral::adapterPath() const {
    return impl_->adapterPath();
}

void BlueZCentral::scanForPeripherals(const std::vector<std::string>& serviceUuids) {
    impl_->post([serviceUuids](Impl& impl) { impl.scan(serviceUuids); });
}

void BlueZCentral::stopScan() {
    impl_->post([](Impl& impl) { impl.stopScanning(); });
}

void BlueZCentral::connect(const std::shared_ptr<BlePeripheral>& peripheral) {
    auto p = std::dynamic_pointer_cast<BlueZPeripheral>(peripheral);
    if (!p) return;
    impl_->post([p](Impl& impl) { impl.connect(p); });
}

void BlueZCentral::cancelPeripheralConnection(const std::shared_ptr<BlePeripheral>& peripheral) {
    auto p = std::dynamic_pointer_cast<BlueZPeripheral>(peripheral);
    if (!p) return;
    impl_->post([p](Impl& impl) { impl.cancel(p); });
}

}  // namespace qz
