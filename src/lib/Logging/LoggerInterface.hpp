#pragma once

#include <optional>
#include <string>

namespace qz {

enum class QZELogLevel { verbose, debug, info, warning, error };

// The engine's logging adapter: each call gets one finished text line, or none.
class LoggerInterface {
  public:
    virtual ~LoggerInterface() = default;
    // Whether the adapter keeps lines of a level; the engine does not format lines that no one
    // keeps. Asked once, when the adapter is registered.
    virtual bool wants(QZELogLevel) const { return true; }
    virtual void logVerbose(const std::optional<std::string>& text) = 0;
    virtual void logDebug(const std::optional<std::string>& text) = 0;
    virtual void logInfo(const std::optional<std::string>& text) = 0;
    virtual void logWarning(const std::optional<std::string>& text) = 0;
    virtual void logError(const std::optional<std::string>& text) = 0;
};

}  // namespace qz
