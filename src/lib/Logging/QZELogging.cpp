#include "lib/Logging/QZELogging.hpp"

#include <cstdio>

#include "platform/Locked.hpp"

namespace qz {

QZELogging& QZELogging::shared() {
    static QZELogging* instance = new QZELogging();
    return *instance;
}

void QZELogging::registerLoggerInterface(std::shared_ptr<LoggerInterface> adapter) {
    unsigned wanted = kAllLevels;
    if (adapter)
        for (auto level : {Level::verbose, Level::debug, Level::info, Level::warning, Level::error})
            if (!adapter->wants(level)) wanted &= ~(1u << static_cast<unsigned>(level));
    std::lock_guard lock(mutex_);
    m_adapter = std::move(adapter);
    m_wanted.store(wanted, std::memory_order_relaxed);
}

std::shared_ptr<LoggerInterface> QZELogging::adapter() const {
    return lockedCopy(mutex_, m_adapter);
}

std::any QZELogging::logger() const {
    return lockedCopy(mutex_, logger_);
}

void QZELogging::setLogger(std::any logger) {
    lockedAssign(mutex_, logger_, std::move(logger));
}

void QZELogging::emit(Level level, const std::string& text) {
    auto a = adapter();
    if (a) {
        switch (level) {
            case Level::verbose:
                a->logVerbose(text);
                break;
            case Level::debug:
                a->logDebug(text);
                break;
            case Level::info:
                a->logInfo(text);
                break;
            case Level::warning:
                a->logWarning(text);
                break;
            case Level::error:
                a->logError(text);
                break;
        }
        return;
    }
    const char* prefix = "V:";
    switch (level) {
        case Level::verbose:
        case Level::debug:
            prefix = "V:";
            break;
        case Level::info:
            prefix = "D:";
            break;
        case Level::warning:
            prefix = "W:";
            break;
        case Level::error:
            prefix = "E:";
            break;
    }
    std::fprintf(stderr, "%s%s\n", prefix, text.c_str());
}

}  // namespace qz
