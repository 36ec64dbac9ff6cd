#pragma once

#include <memory>
#include <mutex>

#include "api/Communication/SensorDelegate.hpp"
#include "platform/DispatchQueue.hpp"
#include "sim/SensorCore.hpp"

namespace qz::sim {

// A SensorDelegate wired straight to a simulated sensor, for unit tests of the relay: it
// scrambles commands, feeds the core and hands the descrambled answer chunks to the
// receiver on the main queue (delays through the installed clock). Firmware data goes out
// raw; acknowledgements come back raw while a firmware write awaits them.
class FakeSensorLink : public SensorDelegate, public std::enable_shared_from_this<FakeSensorLink> {
  public:
    static std::shared_ptr<FakeSensorLink> create(
        std::shared_ptr<SensorCore> core = std::make_shared<SensorCore>());

    void send(const std::string& cmd) override;
    void write(const Data& fwdata, bool useFwDelegate) override;
    void setReceiver(const std::shared_ptr<SensorReceiver>& receiver) override;

    SensorCore& core() { return *core_; }
    const std::shared_ptr<SensorCore>& sharedCore() const { return core_; }
    // False between a disconnect fault and the reappearance: input is dropped.
    bool linkUp() const;

  private:
    explicit FakeSensorLink(std::shared_ptr<SensorCore> core) : core_(std::move(core)) {}
    void feed(const Bytes& wire);
    void deliver(const Bytes& wire);

    std::shared_ptr<SensorCore> core_;
    mutable std::mutex mutex_;
    std::weak_ptr<SensorReceiver> receiver_;
    bool awaitingFw_ = false;
    bool up_ = true;
};

}  // namespace qz::sim
