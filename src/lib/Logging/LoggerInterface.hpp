#pragma once

#include <optional>
#include <string>

namespace qz {

// The engine's logging adapter: each call gets one finished text line, or none.
class LoggerInterface {
  public:
    virtual ~LoggerInterface() = default;
    virtual void logVerbose(const std::optional<std::string>& text) = 0;
    virtual void logDebug(const std::optional<std::string>& text) = 0;
    virtual void logInfo(const std::optional<std::string>& text) = 0;
    virtual void logWarning(const std::optional<std::string>& text) = 0;
    virtual void logError(const std::optional<std::string>& text) = 0;
};

}  // namespace qz
