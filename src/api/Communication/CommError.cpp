#include "api/Communication/CommError.hpp"

namespace qz {

std::string describe(CommError error) {
    switch (error) {
        case CommError::timedOut:
            return "timedOut";
        case CommError::noData:
            return "noData";
        case CommError::noDelegate:
            return "noDelegate";
        case CommError::invalidData:
            return "invalidData";
        case CommError::unsupported:
            return "unsupported";
        case CommError::notConnected:
            return "notConnected";
        case CommError::deviceBusy:
            return "deviceBusy";
    }
    return "unknown";
}

}  // namespace qz
