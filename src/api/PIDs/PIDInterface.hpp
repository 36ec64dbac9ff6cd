#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "api/PIDs/PIDInfo.hpp"

namespace qz {

class Relay;
class Vehicle;

// Owns the catalogue of Mode 1 parameters: for every PID number the library decodes, the ordered
// list of parameter objects one answer feeds. The catalogue is built on its first read and its
// objects are shared with whoever reads them; later refreshes change them in place.
class PIDInterface {
  public:
    using PIDList = std::vector<std::shared_ptr<PIDInfo>>;
    using PIDMap = std::map<uint64_t, PIDList>;

    // No relay, no vehicle, catalogue not built.
    PIDInterface() = default;
    PIDInterface(const PIDInterface&) = delete;
    PIDInterface& operator=(const PIDInterface&) = delete;

    // Every catalogue object whose support status is `supported`.
    PIDList supportedPIDs() const;

    std::shared_ptr<Relay> relay() const;
    void setRelay(std::shared_ptr<Relay> relay);
    std::shared_ptr<Vehicle> vehicle() const;
    void setVehicle(std::shared_ptr<Vehicle> vehicle);

    // The catalogue, built on the first read (once, also under concurrent first reads).
    std::shared_ptr<const PIDMap> pidMap() const;
    // Replaces the stored catalogue.
    void setPidMap(PIDMap map);

    // Every catalogue object, supported or not, in the catalogue's iteration order.
    PIDList getPids() const;

    // A freshly built catalogue (143 PIDs, 348 objects), independent of any PIDInterface.
    static PIDMap buildCatalogue();

  private:
    mutable std::mutex mutex_;  // guards the three fields below
    std::shared_ptr<Relay> relay_;
    std::shared_ptr<Vehicle> vehicle_;
    mutable std::shared_ptr<const PIDMap> pidMap_;
};

}  // namespace qz
