#include "api/config/ConfigManager.hpp"

#include <fstream>
#include <iterator>
#include <mutex>
#include <nlohmann/json.hpp>

#include "platform/Bundle.hpp"

namespace qz {

namespace {

// Leaked: requests still running at exit read the credentials.
std::mutex& configMutex() {
    static auto* m = new std::mutex;
    return *m;
}

std::optional<BackendCredentials>& stored() {
    static auto* value = new std::optional<BackendCredentials>;
    return *value;
}

std::string requiredText(const nlohmann::json& j, const char* key) {
    auto it = j.find(key);
    if (it == j.end()) throw std::runtime_error(std::string("missing key \"") + key + "\"");
    if (!it->is_string()) throw std::runtime_error(std::string("\"") + key + "\" is not a text");
    return it->get<std::string>();
}

}  // namespace

std::string ConfigError::description() const {
    const char* name = kind == Kind::documentMissing ? "documentMissing"
                       : kind == Kind::unreadable    ? "unreadable"
                                                     : "invalidDocument";
    return detail.empty() ? name : std::string(name) + "(" + detail + ")";
}

Result<void, ConfigError> ConfigManager::initialize(const Data& document) {
    BackendCredentials credentials;
    try {
        auto j = nlohmann::json::parse(document.begin(), document.end());
        if (!j.is_object()) throw std::runtime_error("not a JSON object");
        credentials.clientId = requiredText(j, "clientId");
        credentials.clientkey = requiredText(j, "clientkey");
        credentials.clientPass = requiredText(j, "clientPass");
    } catch (const std::exception& e) {
        return std::unexpected(ConfigError{ConfigError::Kind::invalidDocument, e.what()});
    }
    std::lock_guard lock(configMutex());
    stored() = std::move(credentials);
    return {};
}

Result<void, ConfigError> ConfigManager::initializeFromBundles() {
    auto path = Bundle::main().path(kDocumentName, kDocumentType);
    if (!path) path = Bundle::library().path(kDocumentName, kDocumentType);
    if (!path)
        return std::unexpected(ConfigError{ConfigError::Kind::documentMissing, "pelkconfig.json"});
    std::ifstream in(*path, std::ios::binary);
    if (!in) return std::unexpected(ConfigError{ConfigError::Kind::unreadable, path->string()});
    Data document((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return std::unexpected(ConfigError{ConfigError::Kind::unreadable, path->string()});
    return initialize(document);
}

std::optional<BackendCredentials> ConfigManager::credentials() {
    std::lock_guard lock(configMutex());
    return stored();
}

void ConfigManager::reset() {
    std::lock_guard lock(configMutex());
    stored().reset();
}

}  // namespace qz
