#pragma once

#include "platform/units/Dimension.hpp"

// The platform's dimensions and the units the library uses of them, with the platform's symbols
// and coefficients. Each unit is created on first use and shared afterwards.
namespace qz {

#define QZ_DIMENSION_CLASS(Name)                                           \
    Name(std::string symbol, std::optional<UnitConverterLinear> converter) \
        : Dimension(std::move(symbol), converter) {}

class UnitTemperature : public Dimension {
  public:
    QZ_DIMENSION_CLASS(UnitTemperature)
    static const UnitTemperature& kelvin();
    static const UnitTemperature& celsius();
    static const UnitTemperature& fahrenheit();
    static const UnitTemperature& baseUnit() { return kelvin(); }
};

class UnitSpeed : public Dimension {
  public:
    QZ_DIMENSION_CLASS(UnitSpeed)
    static const UnitSpeed& metersPerSecond();
    static const UnitSpeed& kilometersPerHour();
    static const UnitSpeed& milesPerHour();
    static const UnitSpeed& baseUnit() { return metersPerSecond(); }
};

class UnitLength : public Dimension {
  public:
    QZ_DIMENSION_CLASS(UnitLength)
    static const UnitLength& meters();
    static const UnitLength& kilometers();
    static const UnitLength& miles();
    static const UnitLength& baseUnit() { return meters(); }
};

class UnitDuration : public Dimension {
  public:
    QZ_DIMENSION_CLASS(UnitDuration)
    static const UnitDuration& seconds();
    static const UnitDuration& minutes();
    static const UnitDuration& hours();
    static const UnitDuration& baseUnit() { return seconds(); }
};

class UnitPressure : public Dimension {
  public:
    QZ_DIMENSION_CLASS(UnitPressure)
    static const UnitPressure& newtonsPerMetersSquared();
    static const UnitPressure& kilopascals();
    static const UnitPressure& inchesOfMercury();
    static const UnitPressure& poundsForcePerSquareInch();
    // Added by the library: "inH₂O" and "PA".
    static const UnitPressure& inchesOfWater();
    static const UnitPressure& pascals();
    static const UnitPressure& baseUnit() { return newtonsPerMetersSquared(); }
};

class UnitElectricPotentialDifference : public Dimension {
  public:
    QZ_DIMENSION_CLASS(UnitElectricPotentialDifference)
    static const UnitElectricPotentialDifference& volts();
    static const UnitElectricPotentialDifference& baseUnit() { return volts(); }
};

class UnitElectricCurrent : public Dimension {
  public:
    QZ_DIMENSION_CLASS(UnitElectricCurrent)
    static const UnitElectricCurrent& amperes();
    static const UnitElectricCurrent& milliamperes();
    static const UnitElectricCurrent& baseUnit() { return amperes(); }
};

class UnitAngle : public Dimension {
  public:
    QZ_DIMENSION_CLASS(UnitAngle)
    static const UnitAngle& degrees();
    static const UnitAngle& baseUnit() { return degrees(); }
};

class UnitDispersion : public Dimension {
  public:
    QZ_DIMENSION_CLASS(UnitDispersion)
    static const UnitDispersion& partsPerMillion();
    static const UnitDispersion& baseUnit() { return partsPerMillion(); }
};

class UnitFrequency : public Dimension {
  public:
    QZ_DIMENSION_CLASS(UnitFrequency)
    static const UnitFrequency& hertz();
    // Added by the library: "RPM", 1/60 Hz.
    static const UnitFrequency& revolutionsPerMinute();
    static const UnitFrequency& baseUnit() { return hertz(); }
};

class UnitConcentrationMass : public Dimension {
  public:
    QZ_DIMENSION_CLASS(UnitConcentrationMass)
    static const UnitConcentrationMass& gramsPerLiter();
    // Added by the library: "mg/m³", and "lb/gal" made from its symbol alone.
    static const UnitConcentrationMass& milligramsPerCubicMeter();
    static const UnitConcentrationMass& poundsPerLiquidGallon();
    static const UnitConcentrationMass& baseUnit() { return gramsPerLiter(); }
};

}  // namespace qz
