#include "api/Communication/PelkSensor.hpp"

namespace qz {

std::optional<std::string> PelkSensor::identifier() const {
    if (sensorType_.isMfi()) return sensorType_.asMfi().mac;
    return sensorType_.asLe().uuid.uuidString();
}

std::string PelkSensor::description() const {
    return "PelkSensor: name: " + name_ + ", type: " + sensorType_.description();
}

std::string describe(const PelkSensor& sensor) {
    return sensor.description();
}

}  // namespace qz
