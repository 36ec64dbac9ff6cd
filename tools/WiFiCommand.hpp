#pragma once

#include <string>
#include <vector>

namespace qz::tools {

class DiagSession;

// `qzdiag wifi --ssid S [--password P] [--security open|wep|wpa2] [--hidden]
// [--static IP,MASK,GATEWAY,DNS]`: builds the Wi-Fi configuration (WPA2 unless told
// otherwise), connects to the simulated sensor, switches it to Wi-Fi mode, applies the
// configuration and prints the outcome (`json`: {"applied": true|false, "error": null|case}).
// Exit statuses (ExitStatus.hpp): success when applied; a configuration the library refuses
// (its message goes to standard error) or the sensor does not take fails.
int runWiFi(bool json, const std::vector<std::string>& args, DiagSession& session);

// Whether `option` is one of the command's options, and whether it takes a value.
bool isWiFiOption(const std::string& option);
bool wifiOptionTakesValue(const std::string& option);

}  // namespace qz::tools
