#pragma once

#include <optional>
#include <string>

#include "platform/Result.hpp"

namespace qz {

// Why a configuration document was not taken.
struct ConfigError {
    enum class Kind { documentMissing, unreadable, invalidDocument };
    Kind kind = Kind::invalidDocument;
    std::string detail;

    std::string description() const;
};

// The backend client credentials, read from the host's configuration document.
struct BackendCredentials {
    std::string clientId;
    std::string clientkey;
    std::string clientPass;

    bool operator==(const BackendCredentials&) const = default;
};

// Keeps the backend client credentials of the host's configuration document
// (JSON with the text values "clientId", "clientkey" and "clientPass"). Process-wide
// and thread-safe; a document that fails to decode leaves the kept values as they were.
class ConfigManager {
  public:
    ConfigManager() = delete;

    static constexpr const char* kDocumentName = "pelkconfig";
    static constexpr const char* kDocumentType = "json";

    // Decodes the document and keeps its credentials.
    static Result<void, ConfigError> initialize(const Data& document);

    // Loads pelkconfig.json from the host app's bundle, else from the library's bundle.
    static Result<void, ConfigError> initializeFromBundles();

    // The kept credentials, or nullopt before a document was taken.
    static std::optional<BackendCredentials> credentials();

    // Forgets the kept credentials (for tests).
    static void reset();
};

}  // namespace qz
