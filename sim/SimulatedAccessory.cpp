#include "sim/SimulatedAccessory.hpp"

#include "api/Communication/MFISessionController.hpp"
#include "platform/DispatchQueue.hpp"
#include "platform/Locked.hpp"
#include "platform/accessory/AccessoryManager.hpp"

namespace qz::sim {

namespace {

// Where the accessory's answers and restarts run (delays through the installed clock).
std::shared_ptr<DispatchQueue> simQueue() {
    static auto queue = DispatchQueue::create("qz.sim.accessory", DispatchQueue::serial);
    return queue;
}

// Clock seconds from the released link to the loader's restart.
constexpr double kLoaderRestart = 0.5;

}  // namespace

// The accessory's link back to the simulator, held weakly so that the accessory manager's
// list does not keep the simulator alive.
class SimulatedAccessory::Device : public AccessoryDevice {
  public:
    explicit Device(std::weak_ptr<SimulatedAccessory> owner) : owner_(std::move(owner)) {}
    bool sessionOpened(const std::string& protocol, const std::shared_ptr<InputStream>& toHost,
                       const std::shared_ptr<OutputStream>& fromHost) override {
        auto owner = owner_.lock();
        return owner && owner->sessionOpened(protocol, toHost, fromHost);
    }
    void sessionClosed() override {
        if (auto owner = owner_.lock()) owner->sessionClosed();
    }

  private:
    std::weak_ptr<SimulatedAccessory> owner_;
};

std::shared_ptr<SimulatedAccessory> SimulatedAccessory::create(std::shared_ptr<SensorCore> core) {
    return create(std::move(core), Options{});
}

std::shared_ptr<SimulatedAccessory> SimulatedAccessory::create(std::shared_ptr<SensorCore> core,
                                                               Options options) {
    if (options.protocols.empty()) options.protocols = {kSensorProtocol};
    std::shared_ptr<SimulatedAccessory> sim(
        new SimulatedAccessory(std::move(core), std::move(options)));
    sim->device_ = std::make_shared<Device>(sim);
    return sim;
}

SimulatedAccessory::SimulatedAccessory(std::shared_ptr<SensorCore> core, Options options)
    : core_(std::move(core)), options_(std::move(options)) {}

SimulatedAccessory::~SimulatedAccessory() {
    std::shared_ptr<Accessory> accessory;
    {
        std::lock_guard lock(mutex_);
        if (plugged_) accessory = accessory_;
    }
    if (accessory) AccessoryManager::shared().detach(accessory);
}

void SimulatedAccessory::plugIn() {
    std::shared_ptr<Accessory> accessory;
    {
        std::lock_guard lock(mutex_);
        if (plugged_) return;
        std::map<std::string, std::any> values;
        if (!options_.macAddress.empty()) values["macAddress"] = options_.macAddress;
        accessory_ =
            std::make_shared<Accessory>(AccessoryManager::nextConnectionID(), options_.name,
                                        options_.protocols, std::move(values), device_);
        accessory = accessory_;
        plugged_ = true;
    }
    AccessoryManager::shared().attach(accessory);
}

void SimulatedAccessory::unplug() {
    std::shared_ptr<Accessory> accessory;
    {
        std::lock_guard lock(mutex_);
        if (!plugged_) return;
        plugged_ = false;
        accessory = accessory_;
    }
    AccessoryManager::shared().detach(accessory);
}

bool SimulatedAccessory::pluggedIn() const {
    return lockedCopy(mutex_, plugged_);
}

std::shared_ptr<Accessory> SimulatedAccessory::accessory() const {
    return lockedCopy(mutex_, accessory_);
}

std::shared_ptr<PelkSensor> SimulatedAccessory::sensor() const {
    auto accessory = this->accessory();
    return accessory ? pelkSensor(*accessory) : nullptr;
}

void SimulatedAccessory::setWriteCapacity(size_t bytes) {
    std::shared_ptr<OutputStream> out;
    {
        std::lock_guard lock(mutex_);
        options_.writeCapacity = bytes;
        out = fromHost_.lock();
    }
    if (out) out->setCapacity(bytes);
}

void SimulatedAccessory::failNextRead() {
    std::shared_ptr<InputStream> in;
    {
        std::lock_guard lock(mutex_);
        in = toHost_.lock();
    }
    if (in) in->failNextRead();
}

int SimulatedAccessory::sessionsOpened() const {
    return lockedCopy(mutex_, sessions_);
}

int SimulatedAccessory::chunksDelivered() const {
    return lockedCopy(mutex_, delivered_);
}

bool SimulatedAccessory::sessionOpen() const {
    std::lock_guard lock(mutex_);
    return !toHost_.expired();
}

bool SimulatedAccessory::sessionOpened(const std::string& protocol,
                                       const std::shared_ptr<InputStream>& toHost,
                                       const std::shared_ptr<OutputStream>& fromHost) {
    if (protocol != kSensorProtocol) return false;
    size_t capacity;
    {
        std::lock_guard lock(mutex_);
        toHost_ = toHost;
        fromHost_ = fromHost;
        ++sessions_;
        capacity = options_.writeCapacity;
    }
    fromHost->setCapacity(capacity);
    std::weak_ptr<SimulatedAccessory> weak = weak_from_this();
    std::weak_ptr<InputStream> in = toHost;
    fromHost->setSink([weak, in](const Data& bytes) {
        if (auto self = weak.lock()) self->fromHost(bytes, in);
    });
    return true;
}

void SimulatedAccessory::sessionClosed() {
    {
        std::lock_guard lock(mutex_);
        toHost_.reset();
        fromHost_.reset();
    }
    if (!core_->takeLoaderRequest()) return;
    // Released after "KQFW": the sensor restarts into its firmware loader, which connects as
    // a new accessory.
    std::weak_ptr<SimulatedAccessory> weak = weak_from_this();
    simQueue()->asyncAfter(kLoaderRestart, [weak] {
        auto self = weak.lock();
        if (!self) return;
        self->unplug();
        self->core_->setFirmwareMode(true);
        self->plugIn();
    });
}

void SimulatedAccessory::fromHost(const Data& bytes, const std::weak_ptr<InputStream>& toHost) {
    std::weak_ptr<SimulatedAccessory> weak = weak_from_this();
    for (auto& out : core_->receive(bytes)) {
        auto action = [weak, toHost, out] {
            auto self = weak.lock();
            if (!self) return;
            switch (out.kind) {
                case Output::Kind::Bytes:
                    if (auto in = toHost.lock()) in->deliver(out.bytes);
                    {
                        std::lock_guard lock(self->mutex_);
                        ++self->delivered_;
                    }
                    break;
                case Output::Kind::Disconnect:
                    self->unplug();
                    break;
                case Output::Kind::Reappear:
                    self->plugIn();
                    break;
            }
        };
        // What the sensor does at once is done as the input arrives, whatever the machine's load:
        // its answer is on its way before the host waits for it.
        if (out.delay > 0)
            simQueue()->asyncAfter(out.delay, action);
        else
            action();
    }
}

}  // namespace qz::sim
