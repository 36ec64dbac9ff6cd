#include "api/Communication/GatewayLogger.hpp"

#include <mutex>

namespace qz {

namespace {
// Leaked: threads still running at exit may log.
std::mutex& delegateMutex() {
    static auto* m = new std::mutex;
    return *m;
}
std::shared_ptr<GatewayLoggerDelegate>& delegateSlot() {
    static auto* d = new std::shared_ptr<GatewayLoggerDelegate>;
    return *d;
}
}  // namespace

std::shared_ptr<GatewayLoggerDelegate> GatewayLogger::delegate() {
    std::lock_guard lock(delegateMutex());
    return delegateSlot();
}

void GatewayLogger::setDelegate(std::shared_ptr<GatewayLoggerDelegate> delegate) {
    std::lock_guard lock(delegateMutex());
    delegateSlot() = std::move(delegate);
}

void GatewayLogger::log(const std::string& line) {
    auto d = delegate();
    if (d) d->receivedLog(line);
}

}  // namespace qz
