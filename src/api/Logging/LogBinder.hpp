#pragma once

#include "lib/Logging/LoggerInterface.hpp"

namespace qz {

// The engine's logging adapter: engine lines go into the log files through the
// short forms of Log (no source position, never to the host's delegate). A
// missing text writes nothing.
class LogBinder : public LoggerInterface {
  public:
    void logVerbose(const std::optional<std::string>& text) override;
    void logDebug(const std::optional<std::string>& text) override;
    void logInfo(const std::optional<std::string>& text) override;
    void logWarning(const std::optional<std::string>& text) override;
    void logError(const std::optional<std::string>& text) override;
};

}  // namespace qz
