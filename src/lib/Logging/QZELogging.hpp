#pragma once

#include <any>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "lib/Logging/LoggerInterface.hpp"
#include "lib/Logging/QZEFormat.hpp"

namespace qz {

// The engine's log facade. Each operation formats its text ("%@" for objects)
// and passes it to the registered adapter; without one the line goes to the
// console as "V:", "D:" (verbose, debug and info), "W:" or "E:" plus the text.
class QZELogging {
  public:
    static QZELogging& shared();

    void registerLoggerInterface(std::shared_ptr<LoggerInterface> adapter);
    std::shared_ptr<LoggerInterface> adapter() const;

    // Any object the host wants to keep here; the engine does not read it.
    std::any logger() const;
    void setLogger(std::any logger);

    template <class... Args>
    void logVerbose(std::string_view format, const Args&... args) {
        emit(Level::verbose, objcFormat(format, args...));
    }
    template <class... Args>
    void logDebug(std::string_view format, const Args&... args) {
        emit(Level::debug, objcFormat(format, args...));
    }
    template <class... Args>
    void logInfo(std::string_view format, const Args&... args) {
        emit(Level::info, objcFormat(format, args...));
    }
    template <class... Args>
    void logWarning(std::string_view format, const Args&... args) {
        emit(Level::warning, objcFormat(format, args...));
    }
    template <class... Args>
    void logError(std::string_view format, const Args&... args) {
        emit(Level::error, objcFormat(format, args...));
    }

  private:
    enum class Level { verbose, debug, info, warning, error };
    QZELogging() = default;
    void emit(Level level, const std::string& text);

    mutable std::mutex mutex_;
    std::shared_ptr<LoggerInterface> m_adapter;
    std::any logger_;
};

}  // namespace qz
