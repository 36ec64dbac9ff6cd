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

    // "KQI" is asked this many times in one run while it gets no answer.
    static constexpr int kVersionAsks = 2;

    // Runs the sequence at most retry + 1 times; true after one complete run.
    bool doStandardInit(int retry);
    // "KQI", asked again while it gets no answer: keeps the version in sensorVersion. False only
    // for an answer that does not parse as a version; never answered (or no relay), the run goes
    // on with the version not read (sensorVersionRead).
    bool requestSensorVersion();
    // "KQDP": keeps the bus in busProtocol (unknownBus for an unknown number).
    bool requestVehicleProtocol();

    float sensorVersion() const { return m_sensorVersion; }
    // Whether the last run read the version (else sensorVersion is an earlier run's, or 0).
    bool sensorVersionRead() const { return m_sensorVersionRead; }
    // The version as the sensor wrote it (the digits and points of its "KQI" answer, "4.08").
    const std::string& sensorVersionText() const { return m_sensorVersionText; }
    BusProtocol busProtocol() const { return m_busProtocol; }

    // The version digits of a "KQI" answer as a version: only digits and full stops count,
    // and the result must be a finite decimal number whose hundredfold fits 64 bits.
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
