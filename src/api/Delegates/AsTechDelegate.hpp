#pragma once

#include <functional>
#include <string>

#include "api/Communication/CommError.hpp"
#include "api/WiFi/WiFiConfiguration.hpp"
#include "platform/Result.hpp"

namespace qz {

// The integration protocol: switches the sensor to its Wi-Fi mode and configures its Wi-Fi.
// Both calls return at once and report exactly once, on "GatewayQueue": success with the
// fixed text "WiFi Configuration Successful" (the sensor's replies are not passed on), or the
// `CommError` of the first failed exchange. Neither checks the connection or the busy flag;
// without an open session the first exchange times out.
class AsTechDelegate {
  public:
    // The fixed success text, or the failed exchange's error.
    using WiFiCallback = std::function<void(Result<std::string, CommError>)>;

    virtual ~AsTechDelegate() = default;

    // Sends "KQAX" once.
    virtual void switchToWiFiMode(WiFiCallback closure) = 0;
    // Sends the configuration's commands in order and stops at the first that fails; those
    // sent before it are not undone.
    virtual void applyWiFiConfiguration(const WiFiConfiguration& config, WiFiCallback callback) = 0;
};

}  // namespace qz
