#pragma once

#include <memory>
#include <vector>

#include "api/Communication/PelkSensor.hpp"
#include "api/Communication/SessionListeners.hpp"

namespace qz {

// The sensors in reach.
class PelkAccessoryDelegate {
  public:
    virtual ~PelkAccessoryDelegate() = default;

    // Connected MFi sensors first, then the discovered BLE sensors.
    virtual std::vector<std::shared_ptr<PelkSensor>> connectedDevices() = 0;
    // Hears every sensor that comes into reach or goes out of it; replaces an earlier callback.
    virtual void registerForConnectionUpdates(BroadcastListener callback) = 0;
};

}  // namespace qz
