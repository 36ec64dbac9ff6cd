#include "api/PIDs/Mode1/PIDRow.hpp"

#include "api/PIDs/Units.hpp"

namespace qz {

const Dimension* unitFor(UnitId id) {
    switch (id) {
        case UnitId::none:
            return nullptr;
        case UnitId::percent:
            return &UnitPercentage::percent();
        case UnitId::celsius:
            return &UnitTemperature::celsius();
        case UnitId::fahrenheit:
            return &UnitTemperature::fahrenheit();
        case UnitId::kilopascals:
            return &UnitPressure::kilopascals();
        case UnitId::pascals:
            return &UnitPressure::pascals();
        case UnitId::inchesOfMercury:
            return &UnitPressure::inchesOfMercury();
        case UnitId::inchesOfWater:
            return &UnitPressure::inchesOfWater();
        case UnitId::poundsForcePerSquareInch:
            return &UnitPressure::poundsForcePerSquareInch();
        case UnitId::kilometersPerHour:
            return &UnitSpeed::kilometersPerHour();
        case UnitId::milesPerHour:
            return &UnitSpeed::milesPerHour();
        case UnitId::kilometers:
            return &UnitLength::kilometers();
        case UnitId::miles:
            return &UnitLength::miles();
        case UnitId::revolutionsPerMinute:
            return &UnitFrequency::revolutionsPerMinute();
        case UnitId::degrees:
            return &UnitAngle::degrees();
        case UnitId::volts:
            return &UnitElectricPotentialDifference::volts();
        case UnitId::milliamperes:
            return &UnitElectricCurrent::milliamperes();
        case UnitId::seconds:
            return &UnitDuration::seconds();
        case UnitId::minutes:
            return &UnitDuration::minutes();
        case UnitId::hours:
            return &UnitDuration::hours();
        case UnitId::lambda:
            return &UnitAirFuelEquivalenceRatio::lambda();
        case UnitId::gramsPerSecond:
            return &UnitMassFlowRate::gramsPerSecond();
        case UnitId::poundsPerMinute:
            return &UnitMassFlowRate::poundsPerMinute();
        case UnitId::litresPerHour:
            return &UnitVolumeFlowRate::litresPerHour();
        case UnitId::gallonsPerHour:
            return &UnitVolumeFlowRate::gallonsPerHour();
        case UnitId::newtonMeter:
            return &UnitTorque::newtonMeter();
        case UnitId::poundFoot:
            return &UnitTorque::poundFoot();
        case UnitId::partsPerMillion:
            return &UnitDispersion::partsPerMillion();
        case UnitId::milligramsPerCubicMeter:
            return &UnitConcentrationMass::milligramsPerCubicMeter();
    }
    return nullptr;
}

}  // namespace qz
