#include "api/WiFi/WiFiSecurityType.hpp"

namespace qz {

std::optional<WiFiSecurityType> wiFiSecurityTypeFromRawValue(int64_t rawValue) {
    for (WiFiSecurityType type : kAllWiFiSecurityTypes)
        if (qz::rawValue(type) == rawValue) return type;
    return std::nullopt;
}

std::string describe(WiFiSecurityType type) {
    switch (type) {
        case WiFiSecurityType::Open:
            return "Open";
        case WiFiSecurityType::WEP:
            return "WEP";
        case WiFiSecurityType::WPA2:
            return "WPA2";
    }
    return "unknown";
}

}  // namespace qz
