#include "api/Logging/LogBinder.hpp"

#include "api/Logging/Log.hpp"

namespace qz {

void LogBinder::logVerbose(const std::optional<std::string>& text) {
    if (text) Log::v2(*text);
}
void LogBinder::logDebug(const std::optional<std::string>& text) {
    if (text) Log::d2(*text);
}
void LogBinder::logInfo(const std::optional<std::string>& text) {
    if (text) Log::i2(*text);
}
void LogBinder::logWarning(const std::optional<std::string>& text) {
    if (text) Log::w2(*text);
}
void LogBinder::logError(const std::optional<std::string>& text) {
    if (text) Log::e2(*text);
}

}  // namespace qz
