#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "lib/Facades/QZEAdapters.hpp"

namespace qz {

// Module response states per VIN, kept by the host's implementation.
class QZEModuleStatusManager {
  public:
    static QZEModuleStatusManager& manager();

    void setImplementation(std::shared_ptr<ModuleStatusManagerProtocol> impl);

    // Nothing without an implementation.
    void setResponseState(int64_t state, const OptionalText& key, const OptionalText& vin);
    // 0 without an implementation.
    int64_t responseStateForModuleKey(const OptionalText& key, const OptionalText& vin);

    // 1 "ResponseStateNoData", 2 "ResponseStateHasNakData", 3 "ResponseStateHasData",
    // else "ResponseStateUnknown".
    static std::string responseStateString(int64_t state);

  private:
    QZEModuleStatusManager() = default;
    std::shared_ptr<ModuleStatusManagerProtocol> implementation();
    std::mutex mutex_;
    std::shared_ptr<ModuleStatusManagerProtocol> impl;
};

}  // namespace qz
