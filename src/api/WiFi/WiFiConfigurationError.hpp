#pragma once

#include <string>

namespace qz {

// Why a Wi-Fi configuration was refused.
enum class WiFiConfigurationError {
    ssidNotSet,
    passwordNotSet,
    securityTypeNotSet,
    staticIpNotSet,
    invalidIp,
    subnetMaskNotSet,
    invalidSubnetMask,
    gatewayNotSet,
    invalidGateway,
    dnsNotSet,
    invalidDns,
    // The SSID or password holds a control character, or a character that the link
    // scrambling turns into the command's line end.
    invalidSsid,
    invalidPassword,
};

// A readable sentence for the user.
std::string message(WiFiConfigurationError error);

// The case name.
std::string describe(WiFiConfigurationError error);

}  // namespace qz
