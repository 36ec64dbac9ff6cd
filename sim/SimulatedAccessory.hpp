#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "api/Communication/PelkSensor.hpp"
#include "platform/accessory/Accessory.hpp"
#include "sim/SensorCore.hpp"

namespace qz::sim {

// The simulated sensor as an MFi accessory: plugged into the accessory manager, it accepts
// sessions on the sensor protocol, feeds what the host writes to the core and writes the
// core's answers to the host's input stream: at once as the input arrives, or after their
// delays through the installed clock. A disconnect fault unplugs it; a reappearance plugs it
// in again under a new connection id.
class SimulatedAccessory : public std::enable_shared_from_this<SimulatedAccessory> {
  public:
    struct Options {
        std::string macAddress = "00:1A:2B:3C:4D:5E";
        std::string name = "Ostrel OBD-II";
        std::vector<std::string> protocols;  // empty: the sensor protocol
        size_t writeCapacity = 4096;         // bytes the accessory takes per write
    };

    static std::shared_ptr<SimulatedAccessory> create(
        std::shared_ptr<SensorCore> core = std::make_shared<SensorCore>());
    static std::shared_ptr<SimulatedAccessory> create(std::shared_ptr<SensorCore> core,
                                                      Options options);
    ~SimulatedAccessory();

    // Connects a fresh accessory (new connection id) to the accessory manager.
    void plugIn();
    // Disconnects it (its streams end).
    void unplug();
    bool pluggedIn() const;

    std::shared_ptr<Accessory> accessory() const;
    // The sensor the library makes of the current accessory.
    std::shared_ptr<PelkSensor> sensor() const;
    SensorCore& core() { return *core_; }
    const std::shared_ptr<SensorCore>& sharedCore() const { return core_; }

    // Bytes the accessory takes per write (smaller values force partial writes).
    void setWriteCapacity(size_t bytes);
    // The host's next read fails.
    void failNextRead();
    // Sessions opened so far.
    int sessionsOpened() const;
    // Answer chunks written to the host so far.
    int chunksDelivered() const;
    bool sessionOpen() const;

  private:
    class Device;
    SimulatedAccessory(std::shared_ptr<SensorCore> core, Options options);
    bool sessionOpened(const std::string& protocol, const std::shared_ptr<InputStream>& toHost,
                       const std::shared_ptr<OutputStream>& fromHost);
    void sessionClosed();
    void fromHost(const Data& bytes, const std::weak_ptr<InputStream>& toHost);

    std::shared_ptr<SensorCore> core_;
    Options options_;
    std::shared_ptr<AccessoryDevice> device_;
    mutable std::mutex mutex_;
    std::shared_ptr<Accessory> accessory_;
    bool plugged_ = false;
    std::weak_ptr<InputStream> toHost_;
    std::weak_ptr<OutputStream> fromHost_;
    int sessions_ = 0;
    int delivered_ = 0;
};

}  // namespace qz::sim
