#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "api/Communication/SensorType.hpp"

namespace qz {

// A sensor the app can connect to. Made by the library only; the app gets
// sensors from connectedDevices() and the connection-update callback and passes
// them back to connect.
class PelkSensor {
  public:
    PelkSensor(std::string name, SensorType sensorType)
        : name_(std::move(name)), sensorType_(std::move(sensorType)) {}

    static std::shared_ptr<PelkSensor> create(std::string name, SensorType sensorType) {
        return std::make_shared<PelkSensor>(std::move(name), std::move(sensorType));
    }

    const std::string& name() const { return name_; }
    const SensorType& sensorType() const { return sensorType_; }

    // True after the last start-up of this sensor succeeded.
    bool isIntialized() const { return isIntialized_.load(); }
    void setIsIntialized(bool value) { isIntialized_.store(value); }

    // The MAC text for mfi, the upper-case UUID text for le.
    std::optional<std::string> identifier() const;

    // "PelkSensor: name: <name>, type: <sensor type text>"
    std::string description() const;

  private:
    std::string name_;
    SensorType sensorType_;
    std::atomic<bool> isIntialized_{false};
};

std::string describe(const PelkSensor& sensor);

}  // namespace qz
