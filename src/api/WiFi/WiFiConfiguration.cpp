#include "api/WiFi/WiFiConfiguration.hpp"

#include <algorithm>
// GCC 12 sees std::regex's inlined state moves read an uninitialised std::function when it
// optimises with the sanitizers (a false warning).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop

#include "platform/Describe.hpp"

namespace qz {

namespace {

const std::string kCommandHead = "KQA$ config wifi p0 ";

bool missing(const std::optional<std::string>& value) {
    return !value || value->empty();
}

bool isAddress(const std::string& text) {
    static const std::regex pattern("^(?:[0-9]{1,3}\\.){3}[0-9]{1,3}$");
    return std::regex_search(text, pattern);
}

// Whether the text can go inside one sensor command: no control character, and no "V",
// which the link scrambling turns into a carriage return.
bool sendable(const std::string& text) {
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b < 0x20 || b == 0x7F || c == 'V';
    });
}

// Checks one static setting: missing, then its form.
Result<std::string, WiFiConfigurationError> address(const std::optional<std::string>& value,
                                                    WiFiConfigurationError notSet,
                                                    WiFiConfigurationError invalid) {
    if (missing(value)) return std::unexpected(notSet);
    if (!isAddress(*value)) return std::unexpected(invalid);
    return *value;
}

}  // namespace

Result<WiFiConfiguration, WiFiConfigurationError> WiFiConfiguration::checked(
    const std::optional<std::string>& ssid, const std::optional<std::string>& password,
    std::optional<WiFiSecurityType> securityType, std::optional<bool> ssidHidden) {
    WiFiConfiguration config;
    if (missing(ssid)) return std::unexpected(WiFiConfigurationError::ssidNotSet);
    if (!sendable(*ssid)) return std::unexpected(WiFiConfigurationError::invalidSsid);
    config.ssid_ = ssid;
    if (!securityType) return std::unexpected(WiFiConfigurationError::securityTypeNotSet);
    config.securityType_ = *securityType;
    if (*securityType != WiFiSecurityType::Open && missing(password))
        return std::unexpected(WiFiConfigurationError::passwordNotSet);
    if (password && !sendable(*password))
        return std::unexpected(WiFiConfigurationError::invalidPassword);
    config.password_ = password;
    config.ssidHidden_ = ssidHidden.value_or(false);
    return config;
}

Result<WiFiConfiguration, WiFiConfigurationError> WiFiConfiguration::create(
    const std::optional<std::string>& ssid, const std::optional<std::string>& password,
    std::optional<WiFiSecurityType> securityType, std::optional<bool> ssidHidden) {
    return checked(ssid, password, securityType, ssidHidden);
}

Result<WiFiConfiguration, WiFiConfigurationError> WiFiConfiguration::create(
    const std::optional<std::string>& ssid, const std::optional<std::string>& password,
    std::optional<WiFiSecurityType> securityType, std::optional<bool> ssidHidden,
    const std::optional<std::string>& ip, const std::optional<std::string>& gateway,
    const std::optional<std::string>& dns, const std::optional<std::string>& subnetMask) {
    auto config = checked(ssid, password, securityType, ssidHidden);
    if (!config) return config;
    config->ipMode_ = 0;
    using E = WiFiConfigurationError;
    // Checked in this order; sent in the order ip, dns, snm, gw.
    auto checkedIp = address(ip, E::staticIpNotSet, E::invalidIp);
    if (!checkedIp) return std::unexpected(checkedIp.error());
    auto checkedGateway = address(gateway, E::gatewayNotSet, E::invalidGateway);
    if (!checkedGateway) return std::unexpected(checkedGateway.error());
    auto checkedDns = address(dns, E::dnsNotSet, E::invalidDns);
    if (!checkedDns) return std::unexpected(checkedDns.error());
    auto checkedMask = address(subnetMask, E::subnetMaskNotSet, E::invalidSubnetMask);
    if (!checkedMask) return std::unexpected(checkedMask.error());
    config->ip_ = *checkedIp;
    config->gateway_ = *checkedGateway;
    config->dns_ = *checkedDns;
    config->subnetMask_ = *checkedMask;
    return config;
}

std::vector<std::string> WiFiConfiguration::generateKqCommands() const {
    std::vector<std::string> commands;
    if (ssid_) commands.push_back(kCommandHead + "ssid \"" + *ssid_ + "\"");
    if (password_) commands.push_back(kCommandHead + "pw \"" + *password_ + "\"");
    commands.push_back(kCommandHead + "sec " + std::to_string(rawValue(securityType_)));
    commands.push_back(kCommandHead + "hidden " + (ssidHidden_ ? "1" : "0"));
    commands.push_back(kCommandHead + "mode " + std::to_string(ipMode_));
    if (ipMode_ == 0) {
        if (ip_) commands.push_back(kCommandHead + "ip " + *ip_);
        if (dns_) commands.push_back(kCommandHead + "dns " + *dns_);
        if (subnetMask_) commands.push_back(kCommandHead + "snm " + *subnetMask_);
        if (gateway_) commands.push_back(kCommandHead + "gw " + *gateway_);
    }
    commands.push_back(kCommandHead + "save");
    return commands;
}

std::string WiFiConfiguration::description() const {
    return "WiFiConfiguration(ssid: " + describe(ssid_) +
           ", password: " + (password_ ? "\"***\"" : "nil") +
           ", securityType: " + describe(securityType_) + ", ssidHidden: " + describe(ssidHidden_) +
           ", ipMode: " + describe(ipMode_) + ", ip: " + describe(ip_) +
           ", gateway: " + describe(gateway_) + ", dns: " + describe(dns_) +
           ", subnetMask: " + describe(subnetMask_) + ")";
}

}  // namespace qz
