#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "api/WiFi/WiFiConfigurationError.hpp"
#include "api/WiFi/WiFiSecurityType.hpp"
#include "platform/Result.hpp"

namespace qz {

// A Wi-Fi network for the sensor's first Wi-Fi profile ("p0"), checked when it is made, and
// the sensor commands that program and store it.
//
// Made by one of the two `create` overloads, which check in a fixed order and refuse with the
// first error found:
// - DHCP: the SSID (missing or empty: `ssidNotSet`), the security type, then the password
//   (required and non-empty unless the network is `Open`; an open network keeps whatever
//   password it is given, also none or an empty one). A missing hidden flag counts as false.
// - Static address: the same, then the address, gateway, name server and subnet mask, each
//   required and of the form of a dotted IPv4 address (the whole text: one to three digits in
//   each of four groups; values above 255 pass, a trailing line end does not).
// The SSID and password go to the sensor inside double quotes, unescaped; they must not hold
// a control character (below 0x20, or 0x7F) or a "V", which the link scrambling turns into a
// carriage return: either would end the sensor command early (`invalidSsid`,
// `invalidPassword`). Anything else, double quotes and non-ASCII text included, is sent as is.
class WiFiConfiguration {
  public:
    // A configuration that takes its address by DHCP (`ipMode` 1).
    static Result<WiFiConfiguration, WiFiConfigurationError> create(
        const std::optional<std::string>& ssid, const std::optional<std::string>& password,
        std::optional<WiFiSecurityType> securityType, std::optional<bool> ssidHidden);

    // A configuration with a static address (`ipMode` 0).
    static Result<WiFiConfiguration, WiFiConfigurationError> create(
        const std::optional<std::string>& ssid, const std::optional<std::string>& password,
        std::optional<WiFiSecurityType> securityType, std::optional<bool> ssidHidden,
        const std::optional<std::string>& ip, const std::optional<std::string>& gateway,
        const std::optional<std::string>& dns, const std::optional<std::string>& subnetMask);

    const std::optional<std::string>& ssid() const { return ssid_; }
    const std::optional<std::string>& password() const { return password_; }
    WiFiSecurityType securityType() const { return securityType_; }
    bool ssidHidden() const { return ssidHidden_; }
    // 1: address by DHCP; 0: static address.
    int64_t ipMode() const { return ipMode_; }
    const std::optional<std::string>& ip() const { return ip_; }
    const std::optional<std::string>& gateway() const { return gateway_; }
    const std::optional<std::string>& dns() const { return dns_; }
    const std::optional<std::string>& subnetMask() const { return subnetMask_; }

    // The sensor commands, in sending order (without line ends): ssid and pw (each when set),
    // sec, hidden, mode, then for a static address ip, dns, snm, gw, and last save.
    std::vector<std::string> generateKqCommands() const;

    // The configuration for log lines; the password is never shown.
    std::string description() const;

  private:
    WiFiConfiguration() = default;
    // The checks both overloads share.
    static Result<WiFiConfiguration, WiFiConfigurationError> checked(
        const std::optional<std::string>& ssid, const std::optional<std::string>& password,
        std::optional<WiFiSecurityType> securityType, std::optional<bool> ssidHidden);

    std::optional<std::string> ssid_;
    std::optional<std::string> password_;
    WiFiSecurityType securityType_ = WiFiSecurityType::WPA2;
    bool ssidHidden_ = false;
    int64_t ipMode_ = 1;
    std::optional<std::string> ip_;
    std::optional<std::string> gateway_;
    std::optional<std::string> dns_;
    std::optional<std::string> subnetMask_;
};

}  // namespace qz
