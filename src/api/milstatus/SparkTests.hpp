#pragma once

#include <string>

#include "api/milstatus/MonitorTestStatus.hpp"

namespace qz {

// The non-continuous monitors of a spark-ignition engine; fixed once built.
class SparkTests {
  public:
    // Each monitor's status, in the order of the getters.
    SparkTests(MonitorTestStatus eGRSystem, MonitorTestStatus oxygenSensorHeater,
               MonitorTestStatus oxygenSensor, MonitorTestStatus aCRefrigerant,
               MonitorTestStatus secondaryAirSystem, MonitorTestStatus evaporativeSystem,
               MonitorTestStatus heatedCatalyst, MonitorTestStatus catalyst)
        : eGRSystem_(eGRSystem),
          oxygenSensorHeater_(oxygenSensorHeater),
          oxygenSensor_(oxygenSensor),
          aCRefrigerant_(aCRefrigerant),
          secondaryAirSystem_(secondaryAirSystem),
          evaporativeSystem_(evaporativeSystem),
          heatedCatalyst_(heatedCatalyst),
          catalyst_(catalyst) {}

    // The status of each monitor: EGR, oxygen sensor heater, oxygen sensor, A/C refrigerant,
    // secondary air, evaporative system, heated catalyst, catalyst.
    MonitorTestStatus eGRSystem() const { return eGRSystem_; }
    MonitorTestStatus oxygenSensorHeater() const { return oxygenSensorHeater_; }
    MonitorTestStatus oxygenSensor() const { return oxygenSensor_; }
    MonitorTestStatus aCRefrigerant() const { return aCRefrigerant_; }
    MonitorTestStatus secondaryAirSystem() const { return secondaryAirSystem_; }
    MonitorTestStatus evaporativeSystem() const { return evaporativeSystem_; }
    MonitorTestStatus heatedCatalyst() const { return heatedCatalyst_; }
    MonitorTestStatus catalyst() const { return catalyst_; }

    // No monitor is incomplete (unavailable and unknown count as done).
    bool areAllComplete() const;
    // "EGR System: complete, Oxygen Sensor Heater: ..., Catalyst: complete".
    std::string description() const;

    // Equal when every monitor's status is.
    bool operator==(const SparkTests&) const = default;

  private:
    MonitorTestStatus eGRSystem_;
    MonitorTestStatus oxygenSensorHeater_;
    MonitorTestStatus oxygenSensor_;
    MonitorTestStatus aCRefrigerant_;
    MonitorTestStatus secondaryAirSystem_;
    MonitorTestStatus evaporativeSystem_;
    MonitorTestStatus heatedCatalyst_;
    MonitorTestStatus catalyst_;
};

}  // namespace qz
