#include "api/WiFi/WiFiConfigurationError.hpp"

#include <array>
#include <cstddef>

namespace qz {

namespace {

struct ErrorRow {
    const char* name;
    const char* message;
};

// In case order.
constexpr std::array<ErrorRow, 13> kRows = {{
    {"ssidNotSet", "No SSID was set."},
    {"passwordNotSet", "No password was provided."},
    {"securityTypeNotSet", "No security type was selected."},
    {"staticIpNotSet", "The static IP setting was selected, but no IP was set."},
    {"invalidIp", "The IP address provided was invalid."},
    {"subnetMaskNotSet", "A subnet mask must be provided when using a static IP."},
    {"invalidSubnetMask", "The subnet mask provided was invalid."},
    {"gatewayNotSet", "A gateway must be provided when using a static IP."},
    {"invalidGateway", "The gateway provided was invalid."},
    {"dnsNotSet", "A DNS must be provided when using a static IP."},
    {"invalidDns", "The provided DNS was invalid."},
    {"invalidSsid", "The SSID contains characters that cannot be sent to the sensor."},
    {"invalidPassword", "The password contains characters that cannot be sent to the sensor."},
}};

const ErrorRow& row(WiFiConfigurationError error) {
    return kRows.at(static_cast<size_t>(error));
}

}  // namespace

std::string message(WiFiConfigurationError error) {
    return row(error).message;
}

std::string describe(WiFiConfigurationError error) {
    return row(error).name;
}

}  // namespace qz
