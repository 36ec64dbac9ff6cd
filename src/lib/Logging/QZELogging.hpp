#pragma once

#include <any>
#include <atomic>
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
        if (wants(Level::verbose)) emit(Level::verbose, objcFormat(format, args...));
    }
    template <class... Args>
    void logDebug(std::string_view format, const Args&... args) {
        if (wants(Level::debug)) emit(Level::debug, objcFormat(format, args...));
    }
    template <class... Args>
    void logInfo(std::string_view format, const Args&... args) {
        if (wants(Level::info)) emit(Level::info, objcFormat(format, args...));
    }
    template <class... Args>
    void logWarning(std::string_view format, const Args&... args) {
        if (wants(Level::warning)) emit(Level::warning, objcFormat(format, args...));
    }
    template <class... Args>
    void logError(std::string_view format, const Args&... args) {
        if (wants(Level::error)) emit(Level::error, objcFormat(format, args...));
    }

    using Level = QZELogLevel;
    // Whether a line of the level reaches anyone: the registered adapter wants it, or there is
    // none and it goes to the console. Lines no one wants are not formatted.
    bool wants(Level level) const {
        return (m_wanted.load(std::memory_order_relaxed) >> static_cast<unsigned>(level)) & 1;
    }

  private:
    QZELogging() = default;
    void emit(Level level, const std::string& text);

    static constexpr unsigned kAllLevels = 0x1F;
    std::atomic<unsigned> m_wanted{kAllLevels};
    mutable std::mutex mutex_;
    std::shared_ptr<LoggerInterface> m_adapter;
    std::any logger_;
};

}  // namespace qz
