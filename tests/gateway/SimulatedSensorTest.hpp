#pragma once

#include <memory>
#include <string>
#include <vector>

#include "GatewayTestSupport.hpp"
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
    void plugIn(sim::VehicleProfile profile = sim::VehicleProfile::builtIn()) {
        core = std::make_shared<sim::SensorCore>(std::move(profile));
        accessory = sim::SimulatedAccessory::create(core);
        accessory->plugIn();
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
