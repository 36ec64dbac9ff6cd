#include "WiFiCommand.hpp"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <optional>

#include <nlohmann/json.hpp>

#include "Answers.hpp"
#include "DiagSession.hpp"
#include "ExitStatus.hpp"
#include "LiveCommands.hpp"
#include "Reasons.hpp"
#include "api/Gateway/Gateway.hpp"
#include "api/WiFi/WiFiConfiguration.hpp"

namespace qz::tools {

namespace {

struct WiFiArgs {
    std::optional<std::string> ssid;
    std::optional<std::string> password;
    WiFiSecurityType security = WiFiSecurityType::WPA2;
    bool hidden = false;
    std::optional<std::vector<std::optional<std::string>>> addresses;  // ip, mask, gateway, dns
};

std::optional<WiFiSecurityType> securityNamed(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (WiFiSecurityType type : kAllWiFiSecurityTypes) {
        std::string known = describe(type);
        std::transform(known.begin(), known.end(), known.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (known == name) return type;
    }
    return std::nullopt;
}

// "IP,MASK,GATEWAY,DNS"; parts left out or empty stay unset, for the library to refuse.
std::optional<std::vector<std::optional<std::string>>> addressList(const std::string& text) {
    std::vector<std::optional<std::string>> parts;
    size_t from = 0;
    while (true) {
        const size_t comma = text.find(',', from);
        const std::string part = text.substr(from, comma - from);
        parts.push_back(part.empty() ? std::nullopt : std::optional<std::string>(part));
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    if (parts.size() > 4) return std::nullopt;
    parts.resize(4);
    return parts;
}

std::optional<WiFiArgs> parseArgs(const std::vector<std::string>& args, std::string& error) {
    WiFiArgs out;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (wifiOptionTakesValue(a) && i + 1 >= args.size()) {
            error = a + " needs a value";
            return std::nullopt;
        }
        if (a == "--ssid") {
            out.ssid = args[++i];
        } else if (a == "--password") {
            out.password = args[++i];
        } else if (a == "--security") {
            auto type = securityNamed(args[++i]);
            if (!type) {
                error = "unknown security " + args[i] + " (open, wep or wpa2)";
                return std::nullopt;
            }
            out.security = *type;
        } else if (a == "--hidden") {
            out.hidden = true;
        } else if (a == "--static") {
            out.addresses = addressList(args[++i]);
            if (!out.addresses) {
                error = "--static takes IP,MASK,GATEWAY,DNS";
                return std::nullopt;
            }
        } else {
            error = "unexpected argument " + a;
            return std::nullopt;
        }
    }
    return out;
}

Result<WiFiConfiguration, WiFiConfigurationError> configuration(const WiFiArgs& a) {
    if (!a.addresses) return WiFiConfiguration::create(a.ssid, a.password, a.security, a.hidden);
    const auto& ip = (*a.addresses)[0];
    const auto& mask = (*a.addresses)[1];
    const auto& gateway = (*a.addresses)[2];
    const auto& dns = (*a.addresses)[3];
    return WiFiConfiguration::create(a.ssid, a.password, a.security, a.hidden, ip, gateway, dns,
                                     mask);
}

// One call of the integration family, waited for; a missing answer counts as a time-out.
template <class Call>
Result<std::string, CommError> waitFor(Call call) {
    Answers<Result<std::string, CommError>> answer;
    call(answer.callback());
    return answer.first().value_or(std::unexpected(CommError::timedOut));
}

int print(bool json, bool applied, const std::optional<std::string>& error,
          const std::string& message, int failed = kFailed) {
    if (json) {
        nlohmann::json doc{{"applied", applied}, {"error", nullptr}};
        if (error) doc["error"] = *error;
        std::cout << doc.dump(2) << "\n";
    } else if (applied) {
        std::cout << message << "\n";
    }
    if (!applied) std::cerr << "qzdiag: " << message << "\n";
    return applied ? kSuccess : failed;
}

}  // namespace

bool isWiFiOption(const std::string& option) {
    return wifiOptionTakesValue(option) || option == "--hidden";
}

bool wifiOptionTakesValue(const std::string& option) {
    return option == "--ssid" || option == "--password" || option == "--security" ||
           option == "--static";
}

int runWiFi(bool json, const std::vector<std::string>& args, DiagSession& session) {
    std::string error;
    auto parsed = parseArgs(args, error);
    if (!parsed) return usageError(json, "wifi", error);
    auto config = configuration(*parsed);
    if (!config) return print(json, false, describe(config.error()), message(config.error()));
    Gateway& gateway = *session.gateway();
    const Connection connection = connect(gateway);
    if (connection.error)
        return print(json, false,
                     connection.recovery ? "recoveryMode" : describe(CommError::notConnected),
                     *connection.error, connection.failed());
    auto result = waitFor([&](auto callback) { gateway.switchToWiFiMode(std::move(callback)); });
    const bool switched = result.has_value();
    if (switched)
        result = waitFor(
            [&](auto callback) { gateway.applyWiFiConfiguration(*config, std::move(callback)); });
    disconnect(gateway);
    if (!result) {
        const std::string step = switched ? "the Wi-Fi configuration" : "the switch to Wi-Fi mode";
        return print(json, false, describe(result.error()),
                     step + " failed: " + reason(result.error()), connection.failed());
    }
    return print(json, true, std::nullopt, *result);
}

}  // namespace qz::tools
