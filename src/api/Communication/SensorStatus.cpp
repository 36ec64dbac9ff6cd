#include "api/Communication/SensorStatus.hpp"

namespace qz {

std::string describe(SensorConnectionStatus status) {
    switch (status) {
        case SensorConnectionStatus::connected:
            return "connected";
        case SensorConnectionStatus::disconnected:
            return "disconnected";
        case SensorConnectionStatus::errorOpeningConnection:
            return "errorOpeningConnection";
    }
    return "unknown";
}

std::string describe(BroadcastStatus status) {
    switch (status) {
        case BroadcastStatus::appeared:
            return "appeared";
        case BroadcastStatus::disappeared:
            return "disappeared";
    }
    return "unknown";
}

std::string describe(PelkSensorStatus status) {
    switch (status) {
        case PelkSensorStatus::initialized:
            return "initialized";
        case PelkSensorStatus::initializationFailed:
            return "initializationFailed";
        case PelkSensorStatus::recoveryMode:
            return "recoveryMode";
    }
    return "unknown";
}

}  // namespace qz
