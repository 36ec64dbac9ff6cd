#pragma once

#include <memory>
#include <string>
#include <vector>

#include "api/Communication/Relay.hpp"
#include "platform/Clock.hpp"
#include "sim/FakeSensorLink.hpp"
#include "sim/SensorCore.hpp"
#include "sim/VehicleProfile.hpp"

namespace qz::livetest {

// A relay wired straight to a simulated sensor, at half of real time: a reply that must come
// has 1.5 s (ample under load), a silent sensor costs 1.5 s per transmission.
struct RelayRig {
    ScopedClock clock{std::make_shared<ScaledClock>(0.5)};
    std::shared_ptr<sim::FakeSensorLink> link;
    std::shared_ptr<Relay> relay;

    explicit RelayRig(sim::VehicleProfile profile = sim::VehicleProfile::builtIn())
        : link(sim::FakeSensorLink::create(std::make_shared<sim::SensorCore>(std::move(profile)))),
          relay(Relay::createWithSensor(link)) {}

    sim::SensorCore& core() { return link->core(); }
    std::vector<std::string> commands() { return core().commands(); }
};

// A one-unit CAN profile whose unit answers the given Mode 1 PIDs.
inline sim::VehicleProfile profileWith(const std::string& mode1Json, int bus = 6) {
    return sim::VehicleProfile::fromText(R"({"sensor": {"bus": )" + std::to_string(bus) +
                                         R"(}, "vin": "1HGCM82633A004352", "ecus": [
        {"address": "7E8", "mode1": )" + mode1Json +
                                         "}]}");
}

}  // namespace qz::livetest
