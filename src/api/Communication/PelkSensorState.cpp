#include "api/Communication/PelkSensorState.hpp"

namespace qz {

std::string PelkSensorState::description() const {
    switch (kind_) {
        case Kind::onSensorConnected:
            return "onSensorConnected(status: " + describe(*status_) + ")";
        case Kind::onError:
            return "onError(error: " + error_->description() + ")";
        case Kind::onSensorDisconnected:
            return "onSensorDisconnected";
    }
    return "unknown";
}

std::string describe(const PelkSensorState& state) {
    return state.description();
}

}  // namespace qz
