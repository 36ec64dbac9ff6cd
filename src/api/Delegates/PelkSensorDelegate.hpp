#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "api/Communication/PelkSensor.hpp"
#include "api/Communication/PelkSensorState.hpp"
#include "api/Communication/SensorStatus.hpp"

namespace qz {

// Connecting to a sensor, versions, the connection status and the log archive.
class PelkSensorDelegate {
  public:
    using SensorListener = std::function<void(PelkSensorState)>;
    using LogsClosure = std::function<void(std::optional<std::filesystem::path>)>;

    virtual ~PelkSensorDelegate() = default;

    // Opens a session to the sensor and initialises it; every outcome reaches the
    // listener on the main queue. Returns at once.
    virtual void connect(std::shared_ptr<PelkSensor> sensor, SensorListener listener) = 0;
    // Closes the active session.
    virtual void disconnect() = 0;
    virtual std::string libraryVersion() = 0;
    // The last connected sensor's firmware version.
    virtual float sensorVersion() = 0;
    virtual float lastConnectedFwVersion() = 0;
    // The compressed log archive's file (or none), on the main queue.
    virtual void requestZippedLogs(LogsClosure closure) = 0;
    virtual SensorConnectionStatus status() const = 0;
};

}  // namespace qz
