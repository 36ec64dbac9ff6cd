#pragma once

#include <string>

namespace qz {

// Receives the sensor's text (implemented by the relay).
class SensorReceiver {
  public:
    virtual ~SensorReceiver() = default;
    // One descrambled chunk of sensor text, in arrival order.
    virtual void received(const std::string& response) = 0;
};

}  // namespace qz
