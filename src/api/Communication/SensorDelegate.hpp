#pragma once

#include <memory>
#include <string>

#include "api/Communication/SensorReceiver.hpp"
#include "platform/Result.hpp"

namespace qz {

// The seam between the relay and the sessions (implemented by the session
// controller and both sessions). All three return at once; replies come back
// only through the receiver.
class SensorDelegate {
  public:
    virtual ~SensorDelegate() = default;
    // Sends command text to the sensor; the session scrambles it.
    virtual void send(const std::string& cmd) = 0;
    // Writes firmware bytes unscrambled.
    virtual void write(const Data& fwdata, bool useFwDelegate) = 0;
    // Names the object that receives the sensor's text. The relay owns the
    // session controller, so implementations keep the receiver weakly.
    virtual void setReceiver(const std::shared_ptr<SensorReceiver>& receiver) = 0;
    // Whether the link is open: false once it closed (the receiver heard `linkClosed`) until
    // a new one opens. Implementations that cannot tell answer true.
    virtual bool isLinkOpen() const { return true; }
};

}  // namespace qz
