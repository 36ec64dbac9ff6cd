#include "api/Firmware/FirmwareUpdateState.hpp"

namespace qz {

std::string FirmwareUpdateState::description() const {
    switch (kind_) {
        case Kind::updateFailed:
            return "updateFailed(" + describe(error_) + ")";
        case Kind::updateProgress:
            return "updateProgress(" + std::to_string(progress_) + ")";
        case Kind::updateComplete:
            return "updateComplete";
        case Kind::notSupported:
            return "notSupported";
    }
    return "unknown";
}

std::string describe(const FirmwareUpdateState& state) {
    return state.description();
}

}  // namespace qz
