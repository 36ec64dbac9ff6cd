#pragma once

#include <functional>
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
    // Asked as the link takes a command: whether it still goes out (false: its exchange has
    // ended, and it is dropped unsent).
    using Handing = std::function<bool()>;

    // Sends command text to the sensor; the session scrambles it.
    virtual void send(const std::string& cmd) = 0;
    // Sends as `send` does, asking `handing` (when given) as the link takes the text. A session
    // whose link takes it at once asks on the calling thread (this default); one that writes
    // later asks when the write's turn comes. A command dropped for want of a link is asked
    // for all the same.
    virtual void handOver(const std::string& cmd, const Handing& handing) {
        if (!handing || handing()) send(cmd);
    }
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
