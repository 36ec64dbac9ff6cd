#include "api/Firmware/SkiffWeb.hpp"

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "api/Web/CheckedResponse.hpp"
#include "api/Web/HostOverride.hpp"
#include "platform/web/URLSession.hpp"

namespace qz {

namespace {

HostOverride& addressOverride() {
    static auto* address = new HostOverride;  // leaked: requests may still run at exit
    return *address;
}

FirmwareError statusError(const URLResponse& response) {
    return FirmwareError::invalidResponse(response.statusCode);
}

bool validVersionText(const std::string& text) {
    if (text.empty() || text.size() > 32) return false;
    for (unsigned char c : text)
        if (!std::isalnum(c) && c != '.' && c != '-' && c != '_') return false;
    return true;
}

std::string query(const std::string& appVersion, const std::string& currentVersion, bool isLe) {
    return "appVersion=" + percentEncoded(appVersion) +
           "&currentVersion=" + percentEncoded(currentVersion) +
           "&isLe=" + (isLe ? "true" : "false");
}

}  // namespace

std::string SkiffWeb::serverAddress() {
    if (auto address = addressOverride().value(); !address.empty()) return address;
    if (const char* env = std::getenv("QZ_FIRMWARE_SERVER"); env && *env)
        return HostOverride::withoutTrailingSlashes(env);
    return kDefaultServerAddress;
}

void SkiffWeb::setServerAddress(const std::string& address) {
    addressOverride().set(address);
}

FirmwareError SkiffWeb::firmwareError(const URLError& error) {
    return FirmwareError::general(error.transportCode, error.description);
}

void SkiffWeb::requestServerVersion(const std::string& appVersion,
                                    const std::string& currentVersion, bool isLe,
                                    VersionCompletion completion) {
    if (!validVersionText(appVersion) || !validVersionText(currentVersion)) {
        completion(std::unexpected(FirmwareError::invalidArguments()));
        return;
    }
    URLRequest r(serverAddress() + "/firmware/version?" + query(appVersion, currentVersion, isLe));
    r.setValue("application/json", "Accept");
    r.timeoutInterval = kVersionTimeout;
    auto decode = [](URLResponse& response) -> Result<std::string, FirmwareError> {
        try {
            auto j = nlohmann::json::parse(response.body.begin(), response.body.end());
            auto version = j.at("version").get<std::string>();
            if (version.empty()) throw std::runtime_error("empty version");
            return version;
        } catch (const std::exception&) {
            return std::unexpected(FirmwareError::invalidPayload());
        }
    };
    URLSession::shared()
        ->dataTask(std::move(r),
                   checkedResponse(std::move(completion), firmwareError, statusError, decode))
        ->resume();
}

void SkiffWeb::downloadFirmware(const std::string& appVersion, const std::string& versionKey,
                                const std::string& currentVersion, bool isLe,
                                DownloadCompletion completion) {
    if (!validVersionText(appVersion) || !validVersionText(versionKey) ||
        !validVersionText(currentVersion)) {
        completion(std::unexpected(FirmwareError::invalidArguments()));
        return;
    }
    URLRequest r(serverAddress() + "/firmware/download?" + query(appVersion, currentVersion, isLe) +
                 "&versionKey=" + percentEncoded(versionKey));
    r.setValue("application/octet-stream", "Accept");
    r.timeoutInterval = kDownloadTimeout;
    auto decode = [](URLResponse& response) -> Result<Data, FirmwareError> {
        if (response.body.empty()) return std::unexpected(FirmwareError::invalidPayload());
        return std::move(response.body);
    };
    URLSession::shared()
        ->dataTask(std::move(r),
                   checkedResponse(std::move(completion), firmwareError, statusError, decode))
        ->resume();
}

}  // namespace qz
