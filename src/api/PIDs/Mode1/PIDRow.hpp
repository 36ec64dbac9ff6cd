#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "api/PIDs/ClosedRange.hpp"

namespace qz {

class Dimension;

// The units a parameter row can name.
enum class UnitId : uint8_t {
    none,
    percent,
    celsius,
    fahrenheit,
    kilopascals,
    pascals,
    inchesOfMercury,
    inchesOfWater,
    poundsForcePerSquareInch,
    kilometersPerHour,
    milesPerHour,
    kilometers,
    miles,
    revolutionsPerMinute,
    degrees,
    volts,
    milliamperes,
    seconds,
    minutes,
    hours,
    lambda,
    gramsPerSecond,
    poundsPerMinute,
    litresPerHour,
    gallonsPerHour,
    newtonMeter,
    poundFoot,
    partsPerMillion,
    milligramsPerCubicMeter,
};

// The shared unit object of an id; null for UnitId::none.
const Dimension* unitFor(UnitId id);

// Which names an oxygen-sensor parameter writes once the sensor layout is known.
enum class SensorNames : uint8_t {
    none,
    oxygenSensorVoltage,     // "O2 Bank b - Sensor s - Oxygen Sensor Voltage", "O2SBbSs"
    shortTermFuelTrim,       // "O2 Bank b - Sensor s - Short Term Fuel Trim", "SHRTFTBbSs"
    wideRangeLambda,         // "Wide Range O2 Bank b, Sensor s - Equivalence Ratio", "LAMBDABbSs"
    wideRangeVoltage,        // "Wide Range O2 Bank b, Sensor s - Voltage", "O2SBbSs"
    wideRangeCurrentLambda,  // "Wide Range O2S: Bank b - Sensor s - Equivalence Ratio"
    wideRangeCurrent,        // "Wide Range O2S: Bank b - Sensor s - Current", "O2SBbSs"
};

// How a fuel trim of PIDs 06/07 reacts when the vehicle shows no bank 3 sensors.
enum class BankThreeRole : uint8_t { none, narrowToOneByte, dropOut };

// Everything that differs between two Mode 1 parameter classes: one row per class. Which fields
// matter follows from the class's base: numeric kinds read bytes/units/limits/scaling, flags
// byte/bit, bit fields byte/bits, first-set-bit kinds byte/startingBit.
struct PIDRow {
    uint64_t pid = 0;
    int64_t responseBytes = 1;
    std::string_view shortName;
    std::string_view fullName;
    std::optional<ClosedRange> bytes;  // numeric bytesToRead; absent: the whole answer
    std::optional<int64_t> supportBit;
    UnitId units = UnitId::none;
    UnitId altUnit = UnitId::none;
    std::optional<double> minValue;
    std::optional<double> maxValue;
    double scalar = 1.0;
    double offset = 0.0;
    int64_t byte = 0;                 // flag, bit field, first set bit
    int64_t bit = 0;                  // flag bit; starting bit of a first-set-bit kind
    std::optional<ClosedRange> bits;  // bit field / partial byte
    int8_t sensorBit = -1;            // bit of the 01 13 / 01 1D answers; -1: none
    SensorNames sensorNames = SensorNames::none;
    BankThreeRole bankThree = BankThreeRole::none;
    bool inCatalogue = true;

    // Marks an oxygen-sensor parameter standing for `bit` of the sensor-location answers.
    constexpr PIDRow sensor(int8_t bitOfLayout, SensorNames names = SensorNames::none) const {
        PIDRow r = *this;
        r.sensorBit = bitOfLayout;
        r.sensorNames = names;
        return r;
    }
    constexpr PIDRow bank3(BankThreeRole role) const {
        PIDRow r = *this;
        r.bankThree = role;
        return r;
    }
    // A class the catalogue does not list.
    constexpr PIDRow unlisted() const {
        PIDRow r = *this;
        r.inCatalogue = false;
        return r;
    }
};

namespace rows {

inline constexpr std::nullopt_t none = std::nullopt;

constexpr ClosedRange R(int64_t lower, int64_t upper) {
    return ClosedRange{lower, upper};
}

// The fields every row has; the builders below add those of their kind.
constexpr PIDRow named(uint64_t pid, int64_t responseBytes, std::string_view shortName,
                       std::string_view fullName, std::optional<int64_t> supportBit) {
    PIDRow r;
    r.pid = pid;
    r.responseBytes = responseBytes;
    r.shortName = shortName;
    r.fullName = fullName;
    r.supportBit = supportBit;
    return r;
}

constexpr PIDRow numeric(uint64_t pid, int64_t responseBytes, std::string_view shortName,
                         std::string_view fullName, std::optional<ClosedRange> bytes,
                         std::optional<int64_t> supportBit, UnitId units, UnitId altUnit,
                         std::optional<double> minValue, std::optional<double> maxValue,
                         double scalar, double offset) {
    PIDRow r = named(pid, responseBytes, shortName, fullName, supportBit);
    r.bytes = bytes;
    r.units = units;
    r.altUnit = altUnit;
    r.minValue = minValue;
    r.maxValue = maxValue;
    r.scalar = scalar;
    r.offset = offset;
    return r;
}

// A number from bits of one byte.
constexpr PIDRow partialByte(uint64_t pid, int64_t responseBytes, std::string_view shortName,
                             std::string_view fullName, int64_t byte, ClosedRange bits,
                             std::optional<int64_t> supportBit, UnitId units, UnitId altUnit,
                             std::optional<double> minValue, std::optional<double> maxValue,
                             double scalar, double offset) {
    PIDRow r = numeric(pid, responseBytes, shortName, fullName, ClosedRange{byte, byte}, supportBit,
                       units, altUnit, minValue, maxValue, scalar, offset);
    r.byte = byte;
    r.bits = bits;
    return r;
}

// One bit of one byte.
constexpr PIDRow flag(uint64_t pid, int64_t responseBytes, std::string_view shortName,
                      std::string_view fullName, int64_t byte, int64_t bit,
                      std::optional<int64_t> supportBit) {
    PIDRow r = named(pid, responseBytes, shortName, fullName, supportBit);
    r.byte = byte;
    r.bit = bit;
    return r;
}

// A group of bits of one byte read as an enumeration index.
constexpr PIDRow bitField(uint64_t pid, int64_t responseBytes, std::string_view shortName,
                          std::string_view fullName, int64_t byte, std::optional<ClosedRange> bits,
                          std::optional<int64_t> supportBit) {
    PIDRow r = flag(pid, responseBytes, shortName, fullName, byte, 0, supportBit);
    r.bits = bits;
    return r;
}

// The lowest set bit of one byte from a starting bit on, read as an enumeration index.
constexpr PIDRow firstSetBit(uint64_t pid, int64_t responseBytes, std::string_view shortName,
                             std::string_view fullName, int64_t byte, int64_t startingBit) {
    return flag(pid, responseBytes, shortName, fullName, byte, startingBit, std::nullopt);
}

// The answer's bytes unchanged.
constexpr PIDRow rawBytes(uint64_t pid, int64_t responseBytes, std::string_view shortName,
                          std::string_view fullName) {
    PIDRow r = flag(pid, responseBytes, shortName, fullName, 0, 0, std::nullopt);
    r.bytes = ClosedRange{0, 0};
    return r;
}

}  // namespace rows
}  // namespace qz
