#include "api/milstatus/SparkTests.hpp"

namespace qz {

bool SparkTests::areAllComplete() const {
    for (auto s : {eGRSystem_, oxygenSensorHeater_, oxygenSensor_, aCRefrigerant_,
                   secondaryAirSystem_, evaporativeSystem_, heatedCatalyst_, catalyst_})
        if (s == MonitorTestStatus::incomplete) return false;
    return true;
}

std::string SparkTests::description() const {
    return "EGR System: " + describe(eGRSystem_) +
           ", Oxygen Sensor Heater: " + describe(oxygenSensorHeater_) +
           ", Oxygen Sensor: " + describe(oxygenSensor_) +
           ", AC Refrigerant: " + describe(aCRefrigerant_) +
           ", Secondary Air System: " + describe(secondaryAirSystem_) +
           ", Evaporative System: " + describe(evaporativeSystem_) +
           ", Heated Catalyst: " + describe(heatedCatalyst_) + ", Catalyst: " + describe(catalyst_);
}

}  // namespace qz
