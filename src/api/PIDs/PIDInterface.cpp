#include "api/PIDs/PIDInterface.hpp"

#include "api/PIDs/Mode1/Mode1PIDs.hpp"

namespace qz {

PIDInterface::PIDMap PIDInterface::buildCatalogue() {
    PIDMap map;
    for (const auto& info : mode1Classes()) {
        if (!info.row->inCatalogue) continue;
        map[info.row->pid].push_back(info.make(Mode::LiveData));
    }
    return map;
}

std::shared_ptr<const PIDInterface::PIDMap> PIDInterface::pidMap() const {
    std::lock_guard<std::mutex> l(mutex_);
    // Building takes no outside lock and calls out to nothing, so it may run under ours.
    if (!pidMap_) pidMap_ = std::make_shared<const PIDMap>(buildCatalogue());
    return pidMap_;
}

void PIDInterface::setPidMap(PIDMap map) {
    auto built = std::make_shared<const PIDMap>(std::move(map));
    std::lock_guard<std::mutex> l(mutex_);
    pidMap_ = std::move(built);
}

PIDInterface::PIDList PIDInterface::getPids() const {
    auto map = pidMap();
    PIDList out;
    for (const auto& [pid, list] : *map) out.insert(out.end(), list.begin(), list.end());
    return out;
}

PIDInterface::PIDList PIDInterface::supportedPIDs() const {
    auto map = pidMap();
    PIDList out;
    for (const auto& [pid, list] : *map)
        for (const auto& p : list)
            if (p->supportStatus() == SupportStatus::supported) out.push_back(p);
    return out;
}

std::shared_ptr<Relay> PIDInterface::relay() const {
    std::lock_guard<std::mutex> l(mutex_);
    return relay_;
}

void PIDInterface::setRelay(std::shared_ptr<Relay> relay) {
    std::lock_guard<std::mutex> l(mutex_);
    relay_ = std::move(relay);
}

std::shared_ptr<Vehicle> PIDInterface::vehicle() const {
    std::lock_guard<std::mutex> l(mutex_);
    return vehicle_;
}

void PIDInterface::setVehicle(std::shared_ptr<Vehicle> vehicle) {
    std::lock_guard<std::mutex> l(mutex_);
    vehicle_ = std::move(vehicle);
}

}  // namespace qz
