#include "api/PIDs/Units.hpp"

namespace qz {

#define QZ_UNIT(Class, name, symbol, coefficient)                               \
    const Class& Class::name() {                                                \
        static const Class unit(symbol, UnitConverterLinear{coefficient, 0.0}); \
        return unit;                                                            \
    }

QZ_UNIT(UnitPercentage, percent, "%", 1.0)

QZ_UNIT(UnitTorque, newtonMeter, "Nm", 1.0)
QZ_UNIT(UnitTorque, poundFoot, "lb-ft", 1.35582)

QZ_UNIT(UnitMassFlowRate, kilogramsPerSecond, "kg/s", 1.0)
QZ_UNIT(UnitMassFlowRate, kilogramsPerHour, "kg/hr", 0.0002778)
QZ_UNIT(UnitMassFlowRate, gramsPerSecond, "g/s", 0.001)
QZ_UNIT(UnitMassFlowRate, gramsPerMinute, "g/min", 0.00001667)
QZ_UNIT(UnitMassFlowRate, gramsPerHour, "g/hr", 0.0000002778)
QZ_UNIT(UnitMassFlowRate, poundsPerMinute, "lb/min", 0.00756)
QZ_UNIT(UnitMassFlowRate, poundsPerSecond, "lb/s", 0.4536)
QZ_UNIT(UnitMassFlowRate, poundsPerHour, "lb/h", 0.000126)

QZ_UNIT(UnitVolumeFlowRate, litresPerHour, "L/h", 1.0)
QZ_UNIT(UnitVolumeFlowRate, gallonsPerHour, "gal/h", 3.785)

QZ_UNIT(UnitAirFuelEquivalenceRatio, lambda, "λ", 1.0)

QZ_UNIT(UnitNone, none, "", 1.0)

QZ_UNIT(UnitInjectionQuantity, milligramsPerStroke, "mg/str", 1.0)

}  // namespace qz
