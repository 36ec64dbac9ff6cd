#include "api/milstatus/MonitorTestStatus.hpp"

namespace qz {

std::string describe(MonitorTestStatus status) {
    switch (status) {
        case MonitorTestStatus::unavailable:
            return "unavailable";
        case MonitorTestStatus::complete:
            return "complete";
        case MonitorTestStatus::incomplete:
            return "incomplete";
        case MonitorTestStatus::unknown:
            break;
    }
    return "unknown";
}

MonitorTestStatus statusFromBytes(uint8_t availableByte, uint8_t completeByte) {
    if (availableByte == 0) return MonitorTestStatus::unavailable;
    return completeByte != 0 ? MonitorTestStatus::incomplete : MonitorTestStatus::complete;
}

}  // namespace qz
