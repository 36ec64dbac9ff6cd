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

    // The sensors that can be connected: the connected MFi accessories that speak the sensor
    // protocol, then every BLE sensor discovered since the gateway was made (a BLE sensor stays
    // listed once seen; one that went out of reach fails to connect). Synchronous, any thread.
    virtual std::vector<std::shared_ptr<PelkSensor>> connectedDevices() = 0;
    // `callback` hears, on the main queue, every sensor that comes into reach (appeared) and
    // every MFi sensor that goes away (disappeared; BLE sensors are not reported gone). It
    // replaces an earlier callback; an empty one stops the reports. It may call any operation
    // of the library.
    virtual void registerForConnectionUpdates(BroadcastListener callback) = 0;
};

}  // namespace qz
