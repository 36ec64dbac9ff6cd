#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "GatewayTestSupport.hpp"
#include "api/Communication/Relay.hpp"
#include "sim/SensorCore.hpp"
#include "sim/SimulatedAccessory.hpp"
#include "sim/VehicleProfile.hpp"

namespace qz::gwtest {

// A gateway test with the simulated sensor plugged in as an MFi accessory by plugIn(); the
// tests create `gateway` themselves. TearDown drops the gateway and unplugs the sensor.
class SimulatedSensorTest : public GatewayTest {
  protected:
    void TearDown() override {
        gateway.reset();
        if (accessory) accessory->unplug();
        GatewayTest::TearDown();
    }
    // At the first command `when` picks, the app's main queue, which hands the sensor's replies
    // over, is held for twice the relay's wait.
    void holdMainQueueAt(std::function<bool(const std::string&)> when) {
        auto armed = std::make_shared<std::atomic<bool>>(true);
        core->addHandler([armed, when = std::move(when)](
                             const std::string& command) -> std::optional<std::string> {
            if (when(command) && armed->exchange(false))
                DispatchQueue::main()->async([] { holdThisThread(); });
            return std::nullopt;
        });
    }
    // Blocks the calling thread (the main queue, in an app's callback) for twice the relay's
    // wait on the installed clock.
    static void holdThisThread() {
        std::mutex mutex;
        std::condition_variable never;
        std::unique_lock lock(mutex);
        Clock::current()->waitFor(lock, never, 2 * Relay::kReplyTimeout, [] { return false; });
    }
    void plugIn(sim::VehicleProfile profile = sim::VehicleProfile::builtIn()) {
        core = std::make_shared<sim::SensorCore>(std::move(profile));
        accessory = sim::SimulatedAccessory::create(core);
        accessory->plugIn();
    }

    // Plugs the vehicle in and connects `gateway` (created here unless the test made one) to it;
    // the queues are drained and the sensor's commands cleared afterwards.
    void connectGateway(sim::VehicleProfile profile = sim::VehicleProfile::builtIn()) {
        if (!gateway) gateway = Gateway::create();
        plugIn(std::move(profile));
        auto devices = gateway->connectedDevices();
        ASSERT_EQ(devices.size(), 1u);
        Received<PelkSensorState> states;
        gateway->connect(devices.front(), states.callback());
        ASSERT_TRUE(states.waitFor(1));
        ASSERT_EQ(gateway->status(), SensorConnectionStatus::connected);
        drainQueues();
        core->clearCommands();
    }

    // The commands the sensor received, without their carriage returns.
    std::vector<std::string> sent() const {
        std::vector<std::string> out;
        for (auto c : core->commands()) {
            if (!c.empty() && c.back() == '\r') c.pop_back();
            out.push_back(c);
        }
        return out;
    }

    std::shared_ptr<sim::SensorCore> core;
    std::shared_ptr<sim::SimulatedAccessory> accessory;
    std::shared_ptr<Gateway> gateway;
};

}  // namespace qz::gwtest
