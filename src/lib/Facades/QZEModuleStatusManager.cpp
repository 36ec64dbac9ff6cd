#include "lib/Facades/QZEModuleStatusManager.hpp"

#include "platform/Locked.hpp"

namespace qz {

QZEModuleStatusManager& QZEModuleStatusManager::manager() {
    static QZEModuleStatusManager* instance = new QZEModuleStatusManager();
    return *instance;
}

void QZEModuleStatusManager::setImplementation(
    std::shared_ptr<ModuleStatusManagerProtocol> implementation) {
    lockedAssign(mutex_, impl, std::move(implementation));
}

std::shared_ptr<ModuleStatusManagerProtocol> QZEModuleStatusManager::implementation() {
    return lockedCopy(mutex_, impl);
}

void QZEModuleStatusManager::setResponseState(int64_t state, const OptionalText& key,
                                              const OptionalText& vin) {
    if (auto i = implementation()) i->setResponseState(state, key, vin);
}

int64_t QZEModuleStatusManager::responseStateForModuleKey(const OptionalText& key,
                                                          const OptionalText& vin) {
    auto i = implementation();
    return i ? i->responseStateForModuleKey(key, vin) : 0;
}

std::string QZEModuleStatusManager::responseStateString(int64_t state) {
    switch (state) {
        case 1:
            return "ResponseStateNoData";
        case 2:
            return "ResponseStateHasNakData";
        case 3:
            return "ResponseStateHasData";
        default:
            return "ResponseStateUnknown";
    }
}

}  // namespace qz
