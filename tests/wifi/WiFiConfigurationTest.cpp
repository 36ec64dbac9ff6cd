// The Wi-Fi configuration: its checks in order, the command list, and the texts of its types.

#include <gtest/gtest.h>

#include <variant>

#include "api/WiFi/WiFiConfiguration.hpp"

using namespace qz;

namespace {

using E = WiFiConfigurationError;
using Commands = std::vector<std::string>;
using S = WiFiSecurityType;

const std::string P = "KQA$ config wifi p0 ";

struct Case {
    const char* name;
    std::optional<std::string> ssid;
    std::optional<std::string> password;
    std::optional<S> security;
    std::optional<bool> hidden;
    bool isStatic = false;
    std::optional<std::string> ip, gateway, dns, mask;
    std::variant<E, Commands> expected;
};

Result<WiFiConfiguration, E> make(const Case& c) {
    if (!c.isStatic) return WiFiConfiguration::create(c.ssid, c.password, c.security, c.hidden);
    return WiFiConfiguration::create(c.ssid, c.password, c.security, c.hidden, c.ip, c.gateway,
                                     c.dns, c.mask);
}

const std::string kIp = "192.168.1.20", kGw = "192.168.1.1", kDns = "1.1.1.1",
                  kMask = "255.255.255.0";
const auto none = std::nullopt;
constexpr S Open = S::Open, WEP = S::WEP, WPA2 = S::WPA2;

const Commands kDhcpWpa2 = {P + "ssid \"Home\"", P + "pw \"TOPS1CRIT\"", P + "sec 2",
                            P + "hidden 0",      P + "mode 1",           P + "save"};

// clang-format off
const std::vector<Case> kCases = {
    // The SSID comes first, whatever else is missing.
    {"empty ssid, no security", "", "p", none, none, false, {}, {}, {}, {}, E::ssidNotSet},
    {"no ssid", none, "p", WPA2, none, false, {}, {}, {}, {}, E::ssidNotSet},
    {"no security", "Home", "p", none, none, false, {}, {}, {}, {}, E::securityTypeNotSet},
    {"WPA2, empty password", "Home", "", WPA2, none, false, {}, {}, {}, {}, E::passwordNotSet},
    {"WEP, no password", "Home", none, WEP, true, false, {}, {}, {}, {}, E::passwordNotSet},
    {"WPA2 by DHCP, hidden flag missing", "Home", "TOPS1CRIT", WPA2, none, false, {}, {}, {}, {},
     kDhcpWpa2},
    {"open without password, hidden", "Cafe", none, Open, true, false, {}, {}, {}, {},
     Commands{P + "ssid \"Cafe\"", P + "sec 0", P + "hidden 1", P + "mode 1", P + "save"}},
    {"open with an empty password", "Cafe", "", Open, false, false, {}, {}, {}, {},
     Commands{P + "ssid \"Cafe\"", P + "pw \"\"", P + "sec 0", P + "hidden 0", P + "mode 1",
              P + "save"}},
    {"WEP, quotes and non-ASCII text sent as they are", "My \"Net\" Café 東京", "a\"b>e", WEP,
     false, false, {}, {}, {}, {},
     Commands{P + "ssid \"My \"Net\" Café 東京\"", P + "pw \"a\"b>e\"", P + "sec 1",
              P + "hidden 0", P + "mode 1", P + "save"}},
    // Characters that would end the sensor command early.
    {"ssid tab, no security", "Ho\tme", "p", none, none, false, {}, {}, {}, {}, E::invalidSsid},
    {"ssid with CR", "Home\r", "p", WPA2, none, false, {}, {}, {}, {}, E::invalidSsid},
    {"ssid with DEL", "Ho\x7Fme", "p", WPA2, none, false, {}, {}, {}, {}, E::invalidSsid},
    {"ssid with a V", "Vienna", "p", WPA2, none, false, {}, {}, {}, {}, E::invalidSsid},
    {"password with a V", "Home", "pwV", WPA2, none, false, {}, {}, {}, {}, E::invalidPassword},
    {"open, password with a line feed", "Home", "a\nb", Open, none, false, {}, {}, {}, {},
     E::invalidPassword},
    {"password with NUL, before the address", "Home", std::string("a\0b", 3), WPA2, none, true,
     "1.2.3", {}, {}, {}, E::invalidPassword},
    // Static (st) addresses: checked ip, gateway, dns, mask; sent ip, dns, snm, gw.
    {"st: WPA2", "Home", "TOPS1CRIT", WPA2, false, true, kIp, kGw, kDns, kMask,
     Commands{P + "ssid \"Home\"", P + "pw \"TOPS1CRIT\"", P + "sec 2", P + "hidden 0",
              P + "mode 0", P + "ip " + kIp, P + "dns " + kDns, P + "snm " + kMask,
              P + "gw " + kGw, P + "save"}},
    {"st: open without password, values above 255 pass", "Cafe", none, Open, none, true,
     "300.1.1.1", "999.999.999.999", "0.0.0.0", "1.22.133.4",
     Commands{P + "ssid \"Cafe\"", P + "sec 0", P + "hidden 0", P + "mode 0", P + "ip 300.1.1.1",
              P + "dns 0.0.0.0", P + "snm 1.22.133.4", P + "gw 999.999.999.999", P + "save"}},
    {"st: DHCP checks first", none, "p", WPA2, none, true, "x", none, none, none, E::ssidNotSet},
    {"st: no address", "Home", "p", WPA2, none, true, none, kGw, kDns, kMask, E::staticIpNotSet},
    {"st: empty address", "Home", "p", WPA2, none, true, "", kGw, kDns, kMask, E::staticIpNotSet},
    {"st: three groups", "Home", "p", WPA2, none, true, "1.2.3", kGw, kDns, kMask, E::invalidIp},
    {"st: trailing line end", "Home", "p", WPA2, none, true, "1.2.3.4\n", kGw, kDns, kMask,
     E::invalidIp},
    {"st: blank first", "Home", "p", WPA2, none, true, " 1.2.3.4", kGw, kDns, kMask, E::invalidIp},
    {"st: 4 digits", "Home", "p", WPA2, none, true, "1.2.3.1234", kGw, kDns, kMask, E::invalidIp},
    {"st: all missing after the address", "Home", "p", WPA2, none, true, kIp, none, none, none,
     E::gatewayNotSet},
    {"st: bad gw", "Home", "p", WPA2, none, true, kIp, "10.0.0", none, none, E::invalidGateway},
    {"st: no dns", "Home", "p", WPA2, none, true, kIp, kGw, "", kMask, E::dnsNotSet},
    {"st: bad dns", "Home", "p", WPA2, none, true, kIp, kGw, "a.b.c.d", none, E::invalidDns},
    {"st: no mask", "Home", "p", WPA2, none, true, kIp, kGw, kDns, none, E::subnetMaskNotSet},
    {"st: bad mask", "Home", "p", WPA2, none, true, kIp, kGw, kDns, "255.255.255.0.0",
     E::invalidSubnetMask},
};
// clang-format on

}  // namespace

TEST(WiFiConfiguration, ChecksInOrderAndListsTheCommands) {
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        auto config = make(c);
        if (const auto* error = std::get_if<E>(&c.expected)) {
            ASSERT_FALSE(config.has_value());
            EXPECT_EQ(describe(config.error()), describe(*error));
            continue;
        }
        ASSERT_TRUE(config.has_value()) << describe(config.error());
        EXPECT_EQ(config->generateKqCommands(), std::get<Commands>(c.expected));
        EXPECT_EQ(config->ipMode(), c.isStatic ? 0 : 1);
        EXPECT_EQ(config->securityType(), c.security);
        EXPECT_EQ(config->password(), c.password);
        const std::string text = config->description();
        EXPECT_NE(text.find("ipMode: " + std::to_string(config->ipMode())), std::string::npos)
            << text;
        if (c.password && !c.password->empty()) {
            EXPECT_EQ(text.find(*c.password), std::string::npos) << text;
        }
    }
}

TEST(WiFiConfiguration, ErrorsAndSecurityTypesKeepTheirTexts) {
    const std::vector<std::pair<std::string, std::string>> errors = {
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
    };
    for (size_t i = 0; i < errors.size(); ++i) {
        const auto error = static_cast<E>(i);
        EXPECT_EQ(describe(error), errors[i].first);
        EXPECT_EQ(message(error), errors[i].second);
    }

    std::vector<std::string> names;
    for (auto type : kAllWiFiSecurityTypes) {
        names.push_back(describe(type));
        EXPECT_EQ(wiFiSecurityTypeFromRawValue(rawValue(type)), type);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Open", "WEP", "WPA2"}));
    EXPECT_EQ(rawValue(S::WPA2), 2);
    EXPECT_FALSE(wiFiSecurityTypeFromRawValue(3));
    EXPECT_FALSE(wiFiSecurityTypeFromRawValue(-1));
}
