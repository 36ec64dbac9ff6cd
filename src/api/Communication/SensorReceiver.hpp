#pragma once

#include <string>

namespace qz {

// Receives the sensor's text (implemented by the relay).
class SensorReceiver {
  public:
    virtual ~SensorReceiver() = default;
    // One descrambled chunk of sensor text, in arrival order.
    virtual void received(const std::string& response) = 0;
    // The session's link to the sensor closed: nothing sent on it will be answered. Called on
    // the session's own thread, as the link goes.
    virtual void linkClosed() {}
};

}  // namespace qz
