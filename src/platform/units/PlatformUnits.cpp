#include "platform/units/PlatformUnits.hpp"

namespace qz {

// Function-local statics: created once, on first use, safely under concurrent first uses.
#define QZ_UNIT(Class, name, symbol, coefficient, constant)                          \
    const Class& Class::name() {                                                     \
        static const Class unit(symbol, UnitConverterLinear{coefficient, constant}); \
        return unit;                                                                 \
    }

QZ_UNIT(UnitTemperature, kelvin, "K", 1.0, 0.0)
QZ_UNIT(UnitTemperature, celsius, "°C", 1.0, 273.15)
QZ_UNIT(UnitTemperature, fahrenheit, "°F", 0.55555555555556, 255.37222222222427)

QZ_UNIT(UnitSpeed, metersPerSecond, "m/s", 1.0, 0.0)
QZ_UNIT(UnitSpeed, kilometersPerHour, "km/h", 0.277778, 0.0)
QZ_UNIT(UnitSpeed, milesPerHour, "mph", 0.44704, 0.0)

QZ_UNIT(UnitLength, meters, "m", 1.0, 0.0)
QZ_UNIT(UnitLength, kilometers, "km", 1000.0, 0.0)
QZ_UNIT(UnitLength, miles, "mi", 1609.34, 0.0)

QZ_UNIT(UnitDuration, seconds, "s", 1.0, 0.0)
QZ_UNIT(UnitDuration, minutes, "min", 60.0, 0.0)
QZ_UNIT(UnitDuration, hours, "hr", 3600.0, 0.0)

QZ_UNIT(UnitPressure, newtonsPerMetersSquared, "N/m²", 1.0, 0.0)
QZ_UNIT(UnitPressure, kilopascals, "kPa", 1000.0, 0.0)
QZ_UNIT(UnitPressure, inchesOfMercury, "inHg", 3386.39, 0.0)
QZ_UNIT(UnitPressure, poundsForcePerSquareInch, "psi", 6894.76, 0.0)
QZ_UNIT(UnitPressure, inchesOfWater, "inH₂O", 249.0889, 0.0)
QZ_UNIT(UnitPressure, pascals, "PA", 1.0, 0.0)

QZ_UNIT(UnitElectricPotentialDifference, volts, "V", 1.0, 0.0)

QZ_UNIT(UnitElectricCurrent, amperes, "A", 1.0, 0.0)
QZ_UNIT(UnitElectricCurrent, milliamperes, "mA", 0.001, 0.0)

QZ_UNIT(UnitAngle, degrees, "°", 1.0, 0.0)

QZ_UNIT(UnitDispersion, partsPerMillion, "ppm", 1.0, 0.0)

QZ_UNIT(UnitFrequency, hertz, "Hz", 1.0, 0.0)
QZ_UNIT(UnitFrequency, revolutionsPerMinute, "RPM", 1.0 / 60.0, 0.0)

QZ_UNIT(UnitConcentrationMass, gramsPerLiter, "g/L", 1.0, 0.0)
QZ_UNIT(UnitConcentrationMass, milligramsPerCubicMeter, "mg/m³", 0.000001, 0.0)

const UnitConcentrationMass& UnitConcentrationMass::poundsPerLiquidGallon() {
    static const UnitConcentrationMass unit("lb/gal", std::nullopt);
    return unit;
}

}  // namespace qz
