#pragma once

#include "platform/units/Dimension.hpp"
#include "platform/units/PlatformUnits.hpp"

// The library's own dimensions. Coefficients are the rounded values the library has always used
// (kilogramsPerHour 0.0002778, poundsPerMinute 0.00756, gallonsPerHour 3.785), kept as they are.
namespace qz {

class UnitPercentage : public Dimension {
  public:
    QZ_DIMENSION_CLASS(UnitPercentage)
    static const UnitPercentage& percent();
    static const UnitPercentage& baseUnit() { return percent(); }
};

class UnitTorque : public Dimension {
  public:
    QZ_DIMENSION_CLASS(UnitTorque)
    static const UnitTorque& newtonMeter();
    static const UnitTorque& poundFoot();
    static const UnitTorque& baseUnit() { return newtonMeter(); }
};

class UnitMassFlowRate : public Dimension {
  public:
    QZ_DIMENSION_CLASS(UnitMassFlowRate)
    static const UnitMassFlowRate& kilogramsPerSecond();
    static const UnitMassFlowRate& kilogramsPerHour();
    static const UnitMassFlowRate& gramsPerSecond();
    static const UnitMassFlowRate& gramsPerMinute();
    static const UnitMassFlowRate& gramsPerHour();
    static const UnitMassFlowRate& poundsPerMinute();
    static const UnitMassFlowRate& poundsPerSecond();
    static const UnitMassFlowRate& poundsPerHour();
    static const UnitMassFlowRate& baseUnit() { return kilogramsPerSecond(); }
};

// Internal to the library.
class UnitVolumeFlowRate : public Dimension {
  public:
    QZ_DIMENSION_CLASS(UnitVolumeFlowRate)
    static const UnitVolumeFlowRate& litresPerHour();
    static const UnitVolumeFlowRate& gallonsPerHour();
    static const UnitVolumeFlowRate& baseUnit() { return litresPerHour(); }
};

class UnitAirFuelEquivalenceRatio : public Dimension {
  public:
    QZ_DIMENSION_CLASS(UnitAirFuelEquivalenceRatio)
    static const UnitAirFuelEquivalenceRatio& lambda();
    static const UnitAirFuelEquivalenceRatio& baseUnit() { return lambda(); }
};

// The unit of a value without unit: an empty symbol.
class UnitNone : public Dimension {
  public:
    QZ_DIMENSION_CLASS(UnitNone)
    static const UnitNone& none();
    static const UnitNone& baseUnit() { return none(); }
};

class UnitInjectionQuantity : public Dimension {
  public:
    QZ_DIMENSION_CLASS(UnitInjectionQuantity)
    static const UnitInjectionQuantity& milligramsPerStroke();
    static const UnitInjectionQuantity& baseUnit() { return milligramsPerStroke(); }
};

}  // namespace qz
