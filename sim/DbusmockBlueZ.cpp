#include "sim/DbusmockBlueZ.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <sdbus-c++/sdbus-c++.h>

#include "sim/FakeBlueZ.hpp"

extern char** environ;

namespace qz::sim {

namespace {

constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kService = "org.bluez";
constexpr const char* kMock = "org.freedesktop.DBus.Mock";
constexpr const char* kBluezMock = "org.bluez.Mock";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kObjectManager = "org.freedesktop.DBus.ObjectManager";
constexpr const char* kAdapter = "org.bluez.Adapter1";
constexpr const char* kDevice = "org.bluez.Device1";
constexpr const char* kGattService = "org.bluez.GattService1";
constexpr const char* kGattCharacteristic = "org.bluez.GattCharacteristic1";
constexpr const char* kAdapterName = "hci0";
constexpr const char* kAdapterPath = "/org/bluez/hci0";

using VariantMap = std::map<std::string, sdbus::Variant>;
using Method = sdbus::Struct<std::string, std::string, std::string, std::string>;

// Starts `argv` with `extraEnv` added, its output appended to `log` (or discarded); the pid, or
// -1.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
            const std::string& log) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envText(extraEnv);
    for (char** e = environ; *e; ++e) envText.emplace_back(*e);
    std::vector<char*> env;
    for (auto& e : envText) env.push_back(e.data());
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.empty() ? "/dev/null" : log.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// The exit status of `argv`, run quietly; -1 when it could not run.
int status(const std::vector<std::string>& argv) {
    pid_t pid = spawn(argv, {}, {});
    if (pid < 0) return -1;
    int st = 0;
    if (::waitpid(pid, &st, 0) < 0 || !WIFEXITED(st)) return -1;
    return WEXITSTATUS(st);
}

// Python code that makes a mock method raise `error` for its next `times` calls (counted on the
// object under a name of this installation), then go on with `rest`.
std::string refusing(int installation, const std::string& error, int times,
                     const std::string& rest) {
    const std::string counter = "qz_refusals_" + std::to_string(installation);
    return "n = getattr(self, '" + counter + "', " + std::to_string(times) +
           ")\n"
           "if n > 0:\n"
           "    setattr(self, '" +
           counter +
           "', n - 1)\n"
           "    raise dbus.exceptions.DBusException('refused by the test', name='" +
           error + "')\n" + rest;
}

std::string hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

}  // namespace

struct DbusmockBlueZ::State : std::enable_shared_from_this<DbusmockBlueZ::State> {
    struct Refusal {
        std::string error;
        int times = 0;
    };
    struct Device {
        std::shared_ptr<SimulatedBGX13> module;
        std::string path;
        bool connected = false;
        uint64_t generation = 0;
        std::vector<std::string> objects;           // GATT objects exported, in order
        std::map<std::string, std::string> uuidAt;  // characteristic path -> uuid
        // uuid -> method -> calls still to refuse (the mock counts them too).
        std::map<std::string, std::map<std::string, Refusal>> refusals;
    };

    std::weak_ptr<BusLoop> loop;
    sdbus::IConnection* connection = nullptr;
    std::string address;
    std::filesystem::path folder;
    pid_t pid = -1;
    int installations = 0;
    std::vector<std::unique_ptr<Device>> devices;
    std::vector<sdbus::Slot> matches;
    std::map<std::string, std::unique_ptr<sdbus::IProxy>> proxies;

    // The module's side of a connected link.
    class Link : public SimulatedBGX13::Link {
      public:
        Link(std::weak_ptr<State> state, std::weak_ptr<BusLoop> loop, SimulatedBGX13* module,
             uint64_t generation)
            : state_(std::move(state)),
              loop_(std::move(loop)),
              module_(module),
              generation_(generation) {}
        void notify(const std::string& uuid, const Data& value) override {
            post([uuid, value](State& s, Device& d) { s.notified(d, uuid, value); });
        }
        void dropped(const BleError&) override {
            // BlueZ sees the link go down.
            post([](State& s, Device& d) { s.call(d.path, kDevice, "Disconnect"); });
        }

      private:
        void post(std::function<void(State&, Device&)> work) {
            auto loop = loop_.lock();
            if (!loop) return;
            loop->post([state = state_, module = module_, generation = generation_,
                        work = std::move(work)](sdbus::IConnection*) {
                auto self = state.lock();
                if (!self || !self->connection) return;
                for (auto& d : self->devices)
                    if (d->module.get() == module && d->connected && d->generation == generation)
                        try {
                            work(*self, *d);
                        } catch (const sdbus::Error&) {
                            // The mock went away meanwhile.
                        }
            });
        }
        std::weak_ptr<State> state_;
        std::weak_ptr<BusLoop> loop_;
        SimulatedBGX13* module_;
        uint64_t generation_;
    };

    sdbus::IProxy& proxy(const std::string& path) {
        auto& p = proxies[path];
        if (!p) p = sdbus::createProxy(*connection, kService, path);
        return *p;
    }

    void call(const std::string& path, const char* interface, const char* method) {
        proxy(path).callMethod(method).onInterface(interface);
    }

    void updateProperties(const std::string& path, const char* interface, VariantMap values) {
        proxy(path)
            .callMethod("UpdateProperties")
            .onInterface(kMock)
            .withArguments(std::string(interface), values);
    }

    void addObject(const std::string& path, const char* interface, const VariantMap& properties,
                   const std::vector<Method>& methods) {
        proxy("/")
            .callMethod("AddObject")
            .onInterface(kMock)
            .withArguments(path, std::string(interface), properties, methods);
        std::map<std::string, VariantMap> interfaces{{interface, properties}};
        std::vector<sdbus::Variant> args{sdbus::Variant(sdbus::ObjectPath(path)),
                                         sdbus::Variant(interfaces)};
        proxy("/")
            .callMethod("EmitSignal")
            .onInterface(kMock)
            .withArguments(std::string(kObjectManager), std::string("InterfacesAdded"),
                           std::string("oa{sa{sv}}"), args);
    }

    void removeObject(const std::string& path, const char* interface) {
        std::vector<sdbus::Variant> args{sdbus::Variant(sdbus::ObjectPath(path)),
                                         sdbus::Variant(std::vector<std::string>{interface})};
        proxy("/")
            .callMethod("EmitSignal")
            .onInterface(kMock)
            .withArguments(std::string(kObjectManager), std::string("InterfacesRemoved"),
                           std::string("oas"), args);
        proxy("/").callMethod("RemoveObject").onInterface(kMock).withArguments(path);
    }

    void refuseOn(const std::string& path, const char* interface, const std::string& method,
                  const std::string& in, const std::string& out, const Refusal& refusal,
                  const std::string& rest) {
        proxy(path)
            .callMethod("AddMethod")
            .onInterface(kMock)
            .withArguments(std::string(interface), method, in, out,
                           refusing(++installations, refusal.error, refusal.times, rest));
    }

    Device* deviceAt(const std::string& path) {
        for (auto& d : devices)
            if (d->path == path) return d.get();
        return nullptr;
    }

    Device* deviceOf(const std::string& objectPath) {
        for (auto& d : devices)
            if (d->uuidAt.count(objectPath)) return d.get();
        return nullptr;
    }

    // MARK: the process

    void startProcess() {
        pid = spawn({kPython, "-m", "dbusmock", "--template", "bluez5"},
                    {"DBUS_SYSTEM_BUS_ADDRESS=" + address}, (folder / "dbusmock.log").string());
        if (pid < 0) throw std::runtime_error("python3 -m dbusmock could not be started");
        // The mock answers once its template is loaded.
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (;;) {
            try {
                proxy("/")
                    .callMethod("GetCalls")
                    .onInterface(kMock)
                    .withTimeout(std::chrono::seconds(5));
                break;
            } catch (const sdbus::Error&) {
                int st;
                if (::waitpid(pid, &st, WNOHANG) == pid) {
                    pid = -1;
                    throw std::runtime_error("dbusmock ended; see " +
                                             (folder / "dbusmock.log").string());
                }
                if (std::chrono::steady_clock::now() > end)
                    throw std::runtime_error("dbusmock did not answer within a minute");
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        std::string adapter;
        proxy("/")
            .callMethod("AddAdapter")
            .onInterface(kBluezMock)
            .withArguments(std::string(kAdapterName), std::string("qz test"))
            .storeResultsTo(adapter);
        for (auto& d : devices) addDevice(*d);
    }

    void stopProcess() {
        for (auto& d : devices) {
            if (d->connected) d->module->detach();
            d->connected = false;
            d->objects.clear();
            d->uuidAt.clear();
        }
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            int st;
            ::waitpid(pid, &st, 0);
            pid = -1;
        }
    }

    void addDevice(Device& d) {
        const auto& module = *d.module;
        std::string path;
        proxy("/")
            .callMethod("AddDevice")
            .onInterface(kBluezMock)
            .withArguments(std::string(kAdapterName), module.options().address,
                           module.advertisedName().value_or(""))
            .storeResultsTo(path);
        d.path = path;
        // The template's devices advertise nothing: this one offers the streaming service.
        updateProperties(
            path, kDevice,
            {{"UUIDs", sdbus::Variant(std::vector<std::string>{BGXUUID::streamingService})},
             {"RSSI", sdbus::Variant(static_cast<int16_t>(module.rssi()))}});
        proxy(path)
            .callMethod("AddMethod")
            .onInterface(kMock)
            .withArguments(std::string(kDevice), std::string("Disconnect"), std::string(),
                           std::string(), deviceCode("Disconnect"));
        for (const auto& [uuid, methods] : d.refusals)
            if (uuid.empty())
                for (const auto& [method, refusal] : methods) refuseDevice(d, method, refusal);
    }

    // What the device's `method` does when it is not refused: the template's own, and for
    // Disconnect, as BlueZ does, ServicesResolved false together with Connected.
    static std::string deviceCode(const std::string& method) {
        std::string code = "sys.modules['dbusmock.templates.bluez5']." + method + "(self)\n";
        if (method == "Disconnect")
            code +=
                "self.UpdateProperties('org.bluez.Device1', "
                "{'ServicesResolved': dbus.Boolean(False)})\n";
        return code;
    }

    void refuseDevice(Device& d, const std::string& method, const Refusal& refusal) {
        if (refusal.times <= 0) return;
        refuseOn(d.path, kDevice, method, "", "", refusal, deviceCode(method));
    }

    // MARK: links

    void deviceChanged(const std::string& path, const VariantMap& changed) {
        auto it = changed.find("Connected");
        Device* d = deviceAt(path);
        if (it == changed.end() || !d) return;
        const bool connected = it->second.get<bool>();
        if (connected && !d->connected) {
            linkUp(*d);
        } else if (!connected && d->connected) {
            linkDown(*d);
        }
    }

    // The template's Connect only says Connected: the module links, its GATT objects appear and
    // the services are resolved.
    void linkUp(Device& d) {
        d.connected = true;
        ++d.generation;
        d.module->attach(
            std::make_shared<Link>(weak_from_this(), loop, d.module.get(), d.generation));
        const auto& o = d.module->options();
        unsigned handle = 0x000a;
        for (const auto& service : d.module->services()) {
            const std::string servicePath = d.path + "/service" + hex4(handle++);
            addObject(servicePath, kGattService,
                      {{"UUID", sdbus::Variant(service.uuid)},
                       {"Primary", sdbus::Variant(true)},
                       {"Device", sdbus::Variant(sdbus::ObjectPath(d.path))}},
                      {});
            d.objects.push_back(servicePath);
            for (const auto& c : service.characteristics) {
                const std::string path = servicePath + "/char" + hex4(handle++);
                std::vector<uint8_t> value;
                if (c.uuid == BGXUUID::modelNumber)
                    value.assign(o.modelNumber.begin(), o.modelNumber.end());
                if (c.uuid == BGXUUID::firmwareRevision)
                    value.assign(o.firmwareRevision.begin(), o.firmwareRevision.end());
                if (c.uuid == BGXUUID::deviceUniqueId)
                    value.assign(o.uniqueId.begin(), o.uniqueId.end());
                if (c.uuid == BGXUUID::busMode) value = {o.busMode};
                const std::string read =
                    "ret = self.props['org.bluez.GattCharacteristic1']['Value']\n";
                addObject(path, kGattCharacteristic,
                          {{"UUID", sdbus::Variant(c.uuid)},
                           {"Service", sdbus::Variant(sdbus::ObjectPath(servicePath))},
                           {"Value", sdbus::Variant(value)},
                           {"Notifying", sdbus::Variant(false)},
                           {"Flags", sdbus::Variant(bluezFlags(c.properties))},
                           {"MTU", sdbus::Variant(static_cast<uint16_t>(247))}},
                          {Method{"ReadValue", "a{sv}", "ay", read},
                           Method{"WriteValue", "aya{sv}", "", ""},
                           Method{"StartNotify", "", "", ""}, Method{"StopNotify", "", "", ""}});
                d.objects.push_back(path);
                d.uuidAt[path] = c.uuid;
                for (const auto& [method, refusal] : d.refusals[c.uuid])
                    if (refusal.times > 0)
                        refuseOn(path, kGattCharacteristic, method,
                                 method == "WriteValue" ? "aya{sv}" : "", "", refusal, "");
            }
        }
        updateProperties(d.path, kDevice, {{"ServicesResolved", sdbus::Variant(true)}});
    }

    void linkDown(Device& d) {
        d.connected = false;
        ++d.generation;
        d.module->detach();
        for (auto it = d.objects.rbegin(); it != d.objects.rend(); ++it)
            removeObject(*it, d.uuidAt.count(*it) ? kGattCharacteristic : kGattService);
        d.objects.clear();
        d.uuidAt.clear();
    }

    void notified(Device& d, const std::string& uuid, const Data& value) {
        for (const auto& [path, u] : d.uuidAt)
            if (u == uuid)
                updateProperties(
                    path, kGattCharacteristic,
                    {{"Value", sdbus::Variant(std::vector<uint8_t>(value.begin(), value.end()))}});
    }

    // A characteristic method the library called (the mock answered it already).
    void methodCalled(const std::string& path, const std::string& method,
                      const std::vector<sdbus::Variant>& args) {
        Device* d = deviceOf(path);
        if (!d || !d->connected) return;
        const std::string uuid = d->uuidAt[path];
        auto& refusal = d->refusals[uuid][method];
        if (refusal.times > 0) {
            --refusal.times;  // the mock refused this one
            return;
        }
        if (method == "WriteValue" && args.size() == 2) {
            auto bytes = args[0].get<std::vector<uint8_t>>();
            auto options = args[1].get<VariantMap>();
            auto type = BleWriteType::withResponse;
            if (auto t = options.find("type");
                t != options.end() && t->second.get<std::string>() == "command")
                type = BleWriteType::withoutResponse;
            d->module->write(uuid, Data(bytes.begin(), bytes.end()), type);
        } else if (method == "StartNotify" || method == "StopNotify") {
            d->module->setNotifying(uuid, method == "StartNotify");
        }
    }

    // A signal of the mock, as read.
    struct Signal {
        std::string path;
        std::string interface;  // of a PropertiesChanged
        VariantMap changed;
        std::string method;  // of a MethodCalled
        std::vector<sdbus::Variant> args;
    };

    static Signal read(sdbus::Message& message) {
        Signal s;
        s.path = message.getPath();
        if (std::string(message.getMemberName()) == "PropertiesChanged") {
            std::vector<std::string> invalidated;
            message >> s.interface >> s.changed >> invalidated;
        } else {
            message >> s.method >> s.args;
        }
        return s;
    }

    void signal(const Signal& s) {
        if (s.interface == kDevice)
            deviceChanged(s.path, s.changed);
        else if (!s.method.empty())
            methodCalled(s.path, s.method, s.args);
    }

    void shutdown() {
        stopProcess();
        matches.clear();
        proxies.clear();
        connection = nullptr;
    }
};

std::optional<std::string> DbusmockBlueZ::unavailable() {
    if (::access(kPython, X_OK) != 0) return std::string(kPython) + " is not installed";
    if (status({kPython, "-c", "import dbusmock.templates.bluez5"}) != 0)
        return "python3-dbusmock is not installed (" + std::string(kPython) +
               " cannot import dbusmock)";
    return std::nullopt;
}

bool DbusmockBlueZ::installable() {
    for (const char* tool : {"/usr/bin/apt-cache", "/bin/apt-cache"})
        if (::access(tool, X_OK) == 0) return status({tool, "show", "python3-dbusmock"}) == 0;
    return false;
}

std::shared_ptr<DbusmockBlueZ> DbusmockBlueZ::start(const std::string& busAddress,
                                                    const std::filesystem::path& folder) {
    std::shared_ptr<DbusmockBlueZ> mock(new DbusmockBlueZ());
    mock->loop_ = BusLoop::start(busAddress);
    mock->state_ = std::make_shared<State>();
    mock->state_->loop = mock->loop_;
    mock->state_->address = busAddress;
    mock->state_->folder = folder;
    mock->run([](State& s) {
        std::weak_ptr<State> weak = s.shared_from_this();
        auto handler = [weak](sdbus::Message& message) {
            auto self = weak.lock();
            if (!self) return;
            // Handled between dispatch rounds, where calls to the mock may wait for replies.
            auto loop = self->loop.lock();
            if (!loop) return;
            State::Signal signal;
            try {
                signal = State::read(message);
            } catch (const sdbus::Error&) {
                return;
            }
            loop->post([weak, signal](sdbus::IConnection*) {
                auto state = weak.lock();
                if (!state || !state->connection) return;
                try {
                    state->signal(signal);
                } catch (const sdbus::Error&) {
                    // The mock went away meanwhile.
                }
            });
        };
        s.matches.push_back(s.connection->addMatch(
            "type='signal',interface='org.freedesktop.DBus.Mock',member='MethodCalled'", handler));
        s.matches.push_back(
            s.connection->addMatch("type='signal',interface='org.freedesktop.DBus.Properties',"
                                   "member='PropertiesChanged',arg0='org.bluez.Device1'",
                                   handler));
        s.startProcess();
    });
    return mock;
}

DbusmockBlueZ::~DbusmockBlueZ() {
    if (!loop_) return;
    auto state = state_;
    loop_->post([state](sdbus::IConnection*) { state->shutdown(); });
    loop_->stop();
}

void DbusmockBlueZ::run(std::function<void(State&)> work) {
    struct Done {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
        std::string error;
    };
    auto done = std::make_shared<Done>();
    auto state = state_;
    loop_->post([state, done, work = std::move(work)](sdbus::IConnection* connection) {
        std::string error;
        if (!connection) {
            error = "the test bus cannot be reached";
        } else {
            state->connection = connection;
            try {
                work(*state);
            } catch (const std::exception& e) {
                error = e.what();
            }
        }
        std::lock_guard lock(done->mutex);
        done->done = true;
        done->error = error;
        done->cv.notify_all();
    });
    std::unique_lock lock(done->mutex);
    done->cv.wait(lock, [&] { return done->done; });
    if (!done->error.empty()) throw std::runtime_error("dbusmock: " + done->error);
}

void DbusmockBlueZ::stopService() {
    run([](State& s) { s.stopProcess(); });
}

void DbusmockBlueZ::startService() {
    run([](State& s) { s.startProcess(); });
}

bool DbusmockBlueZ::serving() const {
    bool up = false;
    const_cast<DbusmockBlueZ*>(this)->run([&](State& s) { up = s.pid > 0; });
    return up;
}

void DbusmockBlueZ::add(const std::shared_ptr<SimulatedBGX13>& module) {
    run([module](State& s) {
        auto d = std::make_unique<State::Device>();
        d->module = module;
        s.addDevice(*d);
        s.devices.push_back(std::move(d));
    });
}

void DbusmockBlueZ::refuse(const std::shared_ptr<SimulatedBGX13>& module, const std::string& method,
                           const std::string& error, int times, const std::string& uuid) {
    run([=](State& s) {
        for (auto& d : s.devices) {
            if (d->module != module) continue;
            auto& refusal = d->refusals[uuid][method];
            refusal = {error, times};
            if (uuid.empty()) {
                s.refuseDevice(*d, method, refusal);
                continue;
            }
            for (const auto& [path, u] : d->uuidAt)
                if (u == uuid)
                    s.refuseOn(path, kGattCharacteristic, method,
                               method == "WriteValue" ? "aya{sv}" : "", "", refusal, "");
        }
    });
}

void DbusmockBlueZ::setPowered(bool on) {
    run([on](State& s) {
        // The template's adapter leaves its devices alone: their links go down here.
        if (!on)
            for (auto& d : s.devices)
                if (d->connected) s.call(d->path, kDevice, "Disconnect");
        s.updateProperties(kAdapterPath, kAdapter, {{"Powered", sdbus::Variant(on)}});
    });
}

int DbusmockBlueZ::deviceCalls(const std::shared_ptr<SimulatedBGX13>& module,
                               const std::string& method) {
    int count = 0;
    run([&](State& s) {
        for (auto& d : s.devices) {
            if (d->module != module) continue;
            std::vector<sdbus::Struct<uint64_t, std::vector<sdbus::Variant>>> calls;
            s.proxy(d->path)
                .callMethod("GetMethodCalls")
                .onInterface(kMock)
                .withArguments(method)
                .storeResultsTo(calls);
            count += static_cast<int>(calls.size());
        }
    });
    return count;
}

std::string DbusmockBlueZ::devicePath(const SimulatedBGX13& module) const {
    std::string address = module.options().address;
    for (auto& c : address)
        if (c == ':') c = '_';
    return std::string(kAdapterPath) + "/dev_" + address;
}

}  // namespace qz::sim
