// The integration family: the switch to Wi-Fi mode and the Wi-Fi configuration. The commands
// go out one by one on "GatewayQueue", one exchange each with no retries; the first failure
// ends the run. The gateway is held weakly: one released before the work runs reports
// `noDelegate`.

#include <source_location>
#include <vector>

#include "api/Communication/Relay.hpp"
#include "api/Gateway/Gateway.hpp"
#include "api/Logging/Log.hpp"
#include "platform/Describe.hpp"

namespace qz {

namespace {

const std::string kWiFiSuccess = "WiFi Configuration Successful";

// Sends `commands` in order through the gateway's relay on "GatewayQueue" and reports once
// there. The error line carries the public call's position `at`.
void sendWiFiCommands(std::weak_ptr<Gateway> weak, std::vector<std::string> commands,
                      AsTechDelegate::WiFiCallback callback, std::source_location at) {
    Gateway::gatewayQueue()->async([weak = std::move(weak), commands = std::move(commands),
                                    callback = std::move(callback), at] {
        Result<std::string, CommError> result = kWiFiSuccess;
        if (auto self = weak.lock()) {
            for (const auto& command : commands) {
                auto reply =
                    self->relay()->sendToSensor(command, false, 0, MultiResponseStrategy{});
                if (!reply) {
                    result = std::unexpected(reply.error());
                    break;
                }
            }
        } else {
            result = std::unexpected(CommError::noDelegate);
        }
        if (!result)
            Log::e(describe(result.error()), at.file_name(), at.line(), at.column(),
                   Log::functionName(at.function_name()));
        if (callback) callback(std::move(result));
    });
}

}  // namespace

void Gateway::switchToWiFiMode(WiFiCallback closure) {
    Log::PublicFuncCall({"closure: " + describe(closure)});
    Log::i("Switching asTech to WiFi mode");
    sendWiFiCommands(weak_from_this(), {"KQAX"}, std::move(closure),
                     std::source_location::current());
}

void Gateway::applyWiFiConfiguration(const WiFiConfiguration& config, WiFiCallback callback) {
    Log::PublicFuncCall({"config: " + config.description(), "callback: " + describe(callback)});
    Log::i("Applying asTech WiFi configuration");
    // Built on the caller's thread.
    auto commands = config.generateKqCommands();
    sendWiFiCommands(weak_from_this(), std::move(commands), std::move(callback),
                     std::source_location::current());
}

}  // namespace qz
