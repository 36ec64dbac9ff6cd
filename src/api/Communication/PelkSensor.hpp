#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "api/Communication/SensorType.hpp"

namespace qz {

// A sensor the app can connect to. Made by the library only; the app gets
// sensors from connectedDevices() and the connection-update callback and passes
// them back to connect. Safe to read from any thread.
class PelkSensor {
  public:
    // For the library's sessions (and the simulated sensor).
    PelkSensor(std::string name, SensorType sensorType)
        : name_(std::move(name)), sensorType_(std::move(sensorType)) {}
    // The same, shared.
    static std::shared_ptr<PelkSensor> create(std::string name, SensorType sensorType) {
        return std::make_shared<PelkSensor>(std::move(name), std::move(sensorType));
    }

    // The name the sensor announces ("Ostrel 4D5E").
    const std::string& name() const { return name_; }
    // How it is reached: an MFi accessory or a BLE peripheral.
    const SensorType& sensorType() const { return sensorType_; }

    // True after the last start-up of this sensor succeeded (set by the library on each
    // connection); scans refuse a sensor that is not initialised.
    bool isIntialized() const { return isIntialized_.load(); }
    void setIsIntialized(bool value) { isIntialized_.store(value); }

    // What identifies it across runs: the MAC text for mfi, the upper-case UUID text for le
    // (derived from the device address, the same on every run).
    std::optional<std::string> identifier() const;

    // "PelkSensor: name: <name>, type: <sensor type text>"
    std::string description() const;

  private:
    std::string name_;
    SensorType sensorType_;
    std::atomic<bool> isIntialized_{false};
};

// The sensor's description().
std::string describe(const PelkSensor& sensor);

}  // namespace qz
