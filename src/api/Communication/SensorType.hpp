#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "platform/UUID.hpp"

namespace qz {

// How a sensor is reached: an MFi accessory (MAC text and connection id) or a
// Bluetooth LE peripheral (its identifier).
class SensorType {
  public:
    // An accessory: its MAC text and the connection identifier of the current attachment.
    struct Mfi {
        std::string mac;
        int64_t connectionId = 0;
        bool operator==(const Mfi&) const = default;
    };
    // A BLE peripheral: its identifier.
    struct Le {
        UUID uuid;
        bool operator==(const Le& other) const { return uuid == other.uuid; }
    };

    // The two cases.
    static SensorType mfi(std::string mac, int64_t connectionId) {
        return SensorType(Mfi{std::move(mac), connectionId});
    }
    static SensorType le(const UUID& uuid) { return SensorType(Le{uuid}); }

    // Which case it is.
    bool isMfi() const { return std::holds_alternative<Mfi>(value_); }
    bool isLe() const { return std::holds_alternative<Le>(value_); }
    // Valid only for the matching case.
    const Mfi& asMfi() const { return std::get<Mfi>(value_); }
    const Le& asLe() const { return std::get<Le>(value_); }

    // Equal when both are the same case with equal values.
    bool operator==(const SensorType& other) const { return value_ == other.value_; }

    // The case name followed by its values in parentheses: mfi("AA:BB", 3) or le(<UUID>).
    std::string description() const;

  private:
    explicit SensorType(std::variant<Mfi, Le> v) : value_(std::move(v)) {}
    std::variant<Mfi, Le> value_;
};

// The type's description().
std::string describe(const SensorType& type);

}  // namespace qz
