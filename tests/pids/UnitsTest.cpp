#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "api/PIDs/Units.hpp"

namespace qz {
namespace {

double convert(double v, const Dimension& from, const Dimension& to) {
    return Measurement{v, &from}.converted(to).value;
}

TEST(UnitsTest, LibraryUnitsUseTheirRoundedCoefficients) {
    EXPECT_NEAR(
        convert(100, UnitMassFlowRate::gramsPerSecond(), UnitMassFlowRate::poundsPerMinute()),
        13.2275132, 1e-6);
    EXPECT_NEAR(
        convert(3600, UnitMassFlowRate::kilogramsPerHour(), UnitMassFlowRate::kilogramsPerSecond()),
        1.00008, 1e-12);
    EXPECT_NEAR(
        convert(10, UnitVolumeFlowRate::gallonsPerHour(), UnitVolumeFlowRate::litresPerHour()),
        37.85, 1e-12);
    EXPECT_DOUBLE_EQ(convert(1, UnitTorque::poundFoot(), UnitTorque::newtonMeter()), 1.35582);
    EXPECT_DOUBLE_EQ(convert(60, UnitFrequency::revolutionsPerMinute(), UnitFrequency::hertz()),
                     1.0);
    ASSERT_TRUE(UnitFrequency::revolutionsPerMinute().converter());
    EXPECT_EQ(UnitFrequency::revolutionsPerMinute().converter()->coefficient, 1.0 / 60.0);
}

TEST(UnitsTest, Symbols) {
    EXPECT_EQ(UnitNone::none().symbol(), "");
    EXPECT_EQ(UnitPercentage::percent().symbol(), "%");
    EXPECT_EQ(UnitTorque::poundFoot().symbol(), "lb-ft");
    EXPECT_EQ(UnitMassFlowRate::kilogramsPerHour().symbol(), "kg/hr");
    EXPECT_EQ(UnitMassFlowRate::gramsPerHour().symbol(), "g/hr");
    EXPECT_EQ(UnitMassFlowRate::poundsPerHour().symbol(), "lb/h");
    EXPECT_EQ(UnitVolumeFlowRate::litresPerHour().symbol(), "L/h");
    EXPECT_EQ(UnitVolumeFlowRate::gallonsPerHour().symbol(), "gal/h");
    EXPECT_EQ(UnitAirFuelEquivalenceRatio::lambda().symbol(), "λ");
    EXPECT_EQ(UnitInjectionQuantity::milligramsPerStroke().symbol(), "mg/str");
    EXPECT_EQ(UnitFrequency::revolutionsPerMinute().symbol(), "RPM");
    EXPECT_EQ(UnitPressure::inchesOfWater().symbol(), "inH₂O");
    EXPECT_EQ(UnitPressure::pascals().symbol(), "PA");
    EXPECT_EQ(UnitConcentrationMass::milligramsPerCubicMeter().symbol(), "mg/m³");
    EXPECT_EQ(UnitConcentrationMass::poundsPerLiquidGallon().symbol(), "lb/gal");
    EXPECT_FALSE(UnitConcentrationMass::poundsPerLiquidGallon().converter().has_value());
    EXPECT_EQ(UnitTemperature::celsius().symbol(), "°C");
    EXPECT_EQ(UnitTemperature::fahrenheit().symbol(), "°F");
    EXPECT_EQ(UnitSpeed::kilometersPerHour().symbol(), "km/h");
    EXPECT_EQ(UnitSpeed::milesPerHour().symbol(), "mph");
    EXPECT_EQ(UnitLength::kilometers().symbol(), "km");
    EXPECT_EQ(UnitLength::miles().symbol(), "mi");
    EXPECT_EQ(UnitDuration::seconds().symbol(), "s");
    EXPECT_EQ(UnitDuration::minutes().symbol(), "min");
    EXPECT_EQ(UnitDuration::hours().symbol(), "hr");
    EXPECT_EQ(UnitPressure::kilopascals().symbol(), "kPa");
    EXPECT_EQ(UnitPressure::inchesOfMercury().symbol(), "inHg");
    EXPECT_EQ(UnitPressure::poundsForcePerSquareInch().symbol(), "psi");
    EXPECT_EQ(UnitElectricPotentialDifference::volts().symbol(), "V");
    EXPECT_EQ(UnitElectricCurrent::milliamperes().symbol(), "mA");
    EXPECT_EQ(UnitAngle::degrees().symbol(), "°");
    EXPECT_EQ(UnitDispersion::partsPerMillion().symbol(), "ppm");
    EXPECT_EQ(UnitFrequency::hertz().symbol(), "Hz");
    EXPECT_EQ(UnitConcentrationMass::gramsPerLiter().symbol(), "g/L");
}

TEST(UnitsTest, PlatformConversions) {
    EXPECT_NEAR(convert(100, UnitTemperature::celsius(), UnitTemperature::fahrenheit()), 212.0,
                1e-9);
    EXPECT_NEAR(convert(-40, UnitTemperature::celsius(), UnitTemperature::fahrenheit()), -40.0,
                1e-9);
    EXPECT_NEAR(convert(100, UnitSpeed::kilometersPerHour(), UnitSpeed::milesPerHour()), 62.1371,
                1e-3);
    EXPECT_NEAR(convert(1609.34, UnitLength::kilometers(), UnitLength::miles()), 1000.0, 1e-9);
    EXPECT_NEAR(convert(101, UnitPressure::kilopascals(), UnitPressure::inchesOfMercury()), 29.8253,
                1e-3);
    EXPECT_NEAR(convert(100, UnitPressure::kilopascals(), UnitPressure::poundsForcePerSquareInch()),
                14.5038, 1e-3);
    EXPECT_NEAR(convert(249.0889, UnitPressure::pascals(), UnitPressure::inchesOfWater()), 1.0,
                1e-12);
    EXPECT_DOUBLE_EQ(convert(2, UnitDuration::hours(), UnitDuration::minutes()), 120.0);
}

TEST(UnitsTest, DifferentDimensionsDoNotConvert) {
    Measurement m{5.0, &UnitPercentage::percent()};
    auto same = m.converted(UnitTemperature::fahrenheit());
    EXPECT_EQ(same.value, 5.0);
    EXPECT_EQ(same.unit, &UnitPercentage::percent());
}

TEST(UnitsTest, UnitsAreSharedObjectsAndBaseUnitsAreTheSameObject) {
    EXPECT_EQ(&UnitPercentage::baseUnit(), &UnitPercentage::percent());
    EXPECT_EQ(&UnitTorque::baseUnit(), &UnitTorque::newtonMeter());
    EXPECT_EQ(&UnitMassFlowRate::baseUnit(), &UnitMassFlowRate::kilogramsPerSecond());
    EXPECT_EQ(&UnitVolumeFlowRate::baseUnit(), &UnitVolumeFlowRate::litresPerHour());
    EXPECT_EQ(&UnitAirFuelEquivalenceRatio::baseUnit(), &UnitAirFuelEquivalenceRatio::lambda());
    EXPECT_EQ(&UnitNone::baseUnit(), &UnitNone::none());
    EXPECT_EQ(&UnitInjectionQuantity::baseUnit(), &UnitInjectionQuantity::milligramsPerStroke());

    std::vector<const Dimension*> seen(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&seen, i] { seen[i] = &UnitMassFlowRate::gramsPerMinute(); });
    for (auto& t : threads) t.join();
    for (auto* p : seen) EXPECT_EQ(p, seen[0]);
}

}  // namespace
}  // namespace qz
