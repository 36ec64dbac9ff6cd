#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace qz {

// The security of a Wi-Fi network, by the number the sensor's "sec" setting takes.
enum class WiFiSecurityType : int64_t { Open = 0, WEP = 1, WPA2 = 2 };

// Every case, in order.
inline constexpr std::array<WiFiSecurityType, 3> kAllWiFiSecurityTypes = {
    WiFiSecurityType::Open, WiFiSecurityType::WEP, WiFiSecurityType::WPA2};

inline int64_t rawValue(WiFiSecurityType type) {
    return static_cast<int64_t>(type);
}

// The case of a raw number, or nullopt for any other number.
std::optional<WiFiSecurityType> wiFiSecurityTypeFromRawValue(int64_t rawValue);

// "Open", "WEP", "WPA2".
std::string describe(WiFiSecurityType type);

}  // namespace qz
