#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "api/Communication/BusProtocol.hpp"

namespace qz {

class Vehicle;

// The start-up sequence of a freshly connected sensor: "KQD", "KQI" (sensor version),
// "KQDP" (bus), then the pins of the bus; the whole sequence is retried.
class VehicleInitializer {
  public:
    // `vehicle` owns this object and outlives it.
    explicit VehicleInitializer(Vehicle& vehicle) : m_vehicle(vehicle) {}

    // "KQI" is asked this many times in one run while it gets no whole answer.
    static constexpr int kVersionAsks = 2;

    // Runs the sequence at most retry + 1 times; true after one complete run.
    bool doStandardInit(int retry);
    // "KQI", asked again while it gets no whole answer: keeps the version in sensorVersion.
    // Never answered whole (or no relay), the run goes on with the version not read
    // (sensorVersionRead); always true.
    bool requestSensorVersion();
    // "KQDP": keeps the bus in busProtocol (unknownBus for an unknown number).
    bool requestVehicleProtocol();

    float sensorVersion() const { return m_sensorVersion; }
    // Whether the last run read the version (else sensorVersion is an earlier run's, or 0).
    bool sensorVersionRead() const { return m_sensorVersionRead; }
    // The version as the sensor wrote it (the digits and points of its "KQI" answer, "4.08").
    const std::string& sensorVersionText() const { return m_sensorVersionText; }
    BusProtocol busProtocol() const { return m_busProtocol; }

    // The version of a whole "KQI" answer in the sensor's form, "OSAPI" and a number with its
    // two decimals ("OSAPI 4.08", after the command's echo when it is on); anything else (an
    // answer cut short, "OSAPI 4.0", letters) is none.
    static std::optional<float> parseSensorVersion(const std::string& reply);
    // The bus number of a "KQDP" answer: digits only, as a decimal integer.
    static std::optional<int64_t> parseBusNumber(const std::string& reply);

  private:
    Vehicle& m_vehicle;
    float m_sensorVersion = 0;
    bool m_sensorVersionRead = false;
    std::string m_sensorVersionText;
    BusProtocol m_busProtocol = BusProtocol::unknownBus;
};

}  // namespace qz
