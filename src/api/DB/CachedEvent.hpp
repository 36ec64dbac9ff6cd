#pragma once

#include <cstdint>
#include <string>

#include "platform/Result.hpp"

namespace qz {

// An analytics event whose post failed, as kept in the "AnalyticsEvent" entity.
struct CachedEvent {
    int64_t id = 0;         // assigned by the store
    std::string eventType;  // "logScanStarted", "logScanFinished"
    Data payload;           // the event's JSON
    double createdAt = 0;   // wall-clock seconds since 1970 when it was cached

    bool operator==(const CachedEvent&) const = default;
};

}  // namespace qz
