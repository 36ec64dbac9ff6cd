#include "api/Live/SmogInfoError.hpp"

namespace qz {

std::string describe(SmogInfoError error) {
    switch (error) {
        case SmogInfoError::setupFailed:
            return "setupFailed";
        case SmogInfoError::notConnected:
            return "notConnected";
        case SmogInfoError::deviceBusy:
            return "deviceBusy";
    }
    return "unknown";
}

}  // namespace qz
