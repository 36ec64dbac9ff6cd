#include "api/Firmware/SkiffWeb.hpp"

#include <cstdlib>
#include <mutex>
#include <nlohmann/json.hpp>

#include "platform/web/URLSession.hpp"

namespace qz {

namespace {

std::mutex& addressMutex() {
    static std::mutex m;
    return m;
}

std::string& addressOverride() {
    static std::string address;
    return address;
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
    {
        std::lock_guard lock(addressMutex());
        if (!addressOverride().empty()) return addressOverride();
    }
    if (const char* env = std::getenv("QZ_FIRMWARE_SERVER"); env && *env) {
        std::string a = env;
        while (!a.empty() && a.back() == '/') a.pop_back();
        return a;
    }
    return kDefaultServerAddress;
}

void SkiffWeb::setServerAddress(const std::string& address) {
    std::string a = address;
    while (!a.empty() && a.back() == '/') a.pop_back();
    std::lock_guard lock(addressMutex());
    addressOverride() = a;
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
    URLSession::shared()
        ->dataTask(std::move(r),
                   [completion = std::move(completion)](Result<URLResponse, URLError> result) {
                       if (!result)
                           return completion(std::unexpected(firmwareError(result.error())));
                       if (!result->isSuccess())
                           return completion(
                               std::unexpected(FirmwareError::invalidResponse(result->statusCode)));
                       try {
                           auto j = nlohmann::json::parse(result->body.begin(), result->body.end());
                           auto version = j.at("version").get<std::string>();
                           if (version.empty()) throw std::runtime_error("empty version");
                           completion(std::move(version));
                       } catch (const std::exception&) {
                           completion(std::unexpected(FirmwareError::invalidPayload()));
                       }
                   })
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
    URLSession::shared()
        ->dataTask(std::move(r),
                   [completion = std::move(completion)](Result<URLResponse, URLError> result) {
                       if (!result)
                           return completion(std::unexpected(firmwareError(result.error())));
                       if (!result->isSuccess())
                           return completion(
                               std::unexpected(FirmwareError::invalidResponse(result->statusCode)));
                       if (result->body.empty())
                           return completion(std::unexpected(FirmwareError::invalidPayload()));
                       completion(std::move(result->body));
                   })
        ->resume();
}

}  // namespace qz
