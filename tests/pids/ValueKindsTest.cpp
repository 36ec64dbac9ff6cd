#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "api/PIDs/BinaryIndexedPID.hpp"
#include "api/PIDs/BinaryPID.hpp"
#include "api/PIDs/BinarySumPID.hpp"
#include "api/PIDs/DirectDataPID.hpp"
#include "api/PIDs/Enums/ValueEnumerations.hpp"
#include "api/PIDs/NumericPID.hpp"
#include "api/PIDs/PartialByteNumericPID.hpp"
#include "api/PIDs/SignedNumericPID.hpp"
#include "api/PIDs/Units.hpp"

namespace qz {
namespace {

NumericPID rpm() {
    return NumericPID(Mode::LiveData, 0x0C, "Engine RPM", "RPM", 2, ClosedRange{0, 1}, std::nullopt,
                      &UnitFrequency::revolutionsPerMinute(), nullptr, std::nullopt, std::nullopt,
                      0.25, 0);
}

template <class P>
P& supported(P& p, std::vector<std::string> data) {
    p.setData(std::move(data));
    p.setSupportStatus(SupportStatus::supported);
    return p;
}

// --- Numeric -------------------------------------------------------------------------------

TEST(NumericKindTest, EngineSpeedWorkedValue) {
    auto p = rpm();
    supported(p, {"1A", "F8"});
    ASSERT_TRUE(p.value());
    EXPECT_EQ(p.value()->value, 1726.0);
    EXPECT_EQ(p.value()->unit, &UnitFrequency::revolutionsPerMinute());
    EXPECT_EQ(p.valueAsText(false), "1726.0 RPM");
    EXPECT_EQ(p.description(),
              "PID: 0C, Engine RPM, value: 1726.000000 units: RPM supported: supported");
    EXPECT_EQ(p.maxValue(), 16383.75);
    EXPECT_EQ(p.minValue(), 0.0);
    EXPECT_EQ(p.category(), PIDCategory::numeric);
}

TEST(NumericKindTest, MalformedAnswersAreAbsent) {
    auto p = rpm();
    for (auto data : std::vector<std::vector<std::string>>{
             {}, {"1A"}, {"1A", "G8"}, {"1A", ""}, {"", ""}, {"-1", "00"}, {"+1", "00"}}) {
        supported(p, data);
        EXPECT_FALSE(p.value().has_value());
        EXPECT_EQ(p.valueAsText(true), "N/A");
        EXPECT_EQ(p.description(),
                  "PID: 0C, Engine RPM, value: N/A units: N/A supported: supported");
    }
}

TEST(NumericKindTest, TooWideFieldsAreAbsentNotWrapped) {
    NumericPID wide(Mode::LiveData, 0x81, "w", "w", 9, std::nullopt, std::nullopt, nullptr, nullptr,
                    std::nullopt, std::nullopt, 1, 0);
    supported(wide, {"01", "00", "00", "00", "00", "00", "00", "00", "00"});
    EXPECT_FALSE(wide.value().has_value());  // 17 significant digits
    supported(wide, {"00", "FF", "FF", "FF", "FF", "FF", "FF", "FF", "FF"});
    ASSERT_TRUE(wide.value());
    EXPECT_EQ(wide.value()->value, 18446744073709551615.0);
    // Full scale of 9 bytes computed without shifting past 64 bits.
    EXPECT_EQ(wide.maxValue(), std::ldexp(1.0, 72) - 1.0);
    // Byte texts with more digits still join and read.
    supported(wide, {"000000000000000000", "01"});
    EXPECT_FALSE(wide.value().has_value());  // byte 8 missing
}

TEST(NumericKindTest, OffsetAndLimits) {
    NumericPID iat(Mode::LiveData, 0x0F, "Intake Air Temperature", "IAT", 1, std::nullopt,
                   std::nullopt, &UnitTemperature::celsius(), &UnitTemperature::fahrenheit(),
                   std::nullopt, std::nullopt, 1, -40);
    EXPECT_EQ(iat.minValue(), -40.0);
    EXPECT_EQ(iat.maxValue(), 215.0);
    supported(iat, {"00"});
    ASSERT_TRUE(iat.value());
    EXPECT_EQ(iat.value()->value, -40.0);
    EXPECT_EQ(iat.valueAsText(false), "-40.0 °C");
    // The platform's rounded Fahrenheit coefficients, kept as they are.
    EXPECT_EQ(iat.valueAsText(true), "-40.000000000003425 °F");
    supported(iat, {"8C"});  // 100 °C
    EXPECT_EQ(iat.valueAsText(false), "100.0 °C");
    ASSERT_TRUE(iat.altValue());
    EXPECT_NEAR(iat.altValue()->value, 212.0, 1e-9);
    EXPECT_EQ(iat.altValue()->unit, &UnitTemperature::fahrenheit());

    NumericPID two(Mode::LiveData, 0x10, "x", "x", 2, std::nullopt, std::nullopt, nullptr, nullptr,
                   std::nullopt, std::nullopt, 0.01, 0);
    supported(two, {"FF", "FF"});
    ASSERT_TRUE(two.value());
    EXPECT_EQ(two.value()->value, two.maxValue());
}

TEST(NumericKindTest, UnitlessValueKeepsTheBlank) {
    NumericPID count(Mode::LiveData, 0x30, "Warm-ups", "WARM_UPS", 1, std::nullopt, std::nullopt,
                     nullptr, nullptr, std::nullopt, std::nullopt, 1, 0);
    supported(count, {"07"});
    EXPECT_EQ(count.valueAsText(false), "7.0 ");
    ASSERT_TRUE(count.value());
    EXPECT_EQ(count.value()->unit, &UnitNone::none());
    EXPECT_EQ(count.description(),
              "PID: 30, Warm-ups, value: 7.000000 units:  supported: supported");
    // Without an alternative unit the argument changes nothing.
    EXPECT_EQ(count.valueAsText(true), "7.0 ");
}

TEST(NumericKindTest, TextsFollowSupportStatus) {
    auto p = rpm();
    p.setData({"1A", "F8"});
    EXPECT_EQ(p.valueAsText(false), "N/A");  // unknown
    EXPECT_EQ(p.description(),
              "PID: 0C, Engine RPM, value: 1726.000000 units: RPM supported: unknown");
    p.setSupportStatus(SupportStatus::unsupported);
    EXPECT_EQ(p.valueAsText(false), "Unsupported");
}

TEST(NumericKindTest, ShortestNumberTexts) {
    EXPECT_EQ(shortestNumberText(1726.0), "1726.0");
    EXPECT_EQ(shortestNumberText(0.1), "0.1");
    EXPECT_EQ(shortestNumberText(-0.25), "-0.25");
    EXPECT_EQ(shortestNumberText(0.39215686274509803), "0.39215686274509803");
    EXPECT_EQ(shortestNumberText(0.0), "0.0");
    EXPECT_EQ(shortestNumberText(1e16), "1e+16");
    EXPECT_EQ(shortestNumberText(0.00001), "1e-05");
    EXPECT_EQ(fixedNumberText(-8192.0), "-8192.000000");
}

// --- Signed, partial byte ------------------------------------------------------------------

SignedNumericPID evap(double offset = 0) {
    return SignedNumericPID(Mode::LiveData, 0x32, "Evap", "EVAP_VP", 2, std::nullopt, std::nullopt,
                            &UnitPressure::pascals(), &UnitPressure::inchesOfWater(), -8192,
                            8191.75, 0.25, offset);
}

TEST(SignedNumericKindTest, TwosComplementOverTheField) {
    auto p = evap();
    supported(p, {"80", "00"});
    ASSERT_TRUE(p.value());
    EXPECT_EQ(p.value()->value, -8192.0);
    supported(p, {"FF", "FF"});
    ASSERT_TRUE(p.value());
    EXPECT_EQ(p.value()->value, -0.25);
    supported(p, {"7F", "FF"});
    ASSERT_TRUE(p.value());
    EXPECT_EQ(p.value()->value, 8191.75);
    supported(p, {"FF", "FC"});
    EXPECT_EQ(p.valueAsText(false), "-1.0 PA");
    supported(p, {"00", "00"});
    ASSERT_TRUE(p.value());
    EXPECT_EQ(p.value()->value, 0.0);
}

TEST(SignedNumericKindTest, OffsetIsAddedAfterTheSignedProduct) {
    auto p = evap(10);
    supported(p, {"FF", "FC"});
    ASSERT_TRUE(p.value());
    EXPECT_EQ(p.value()->value, 9.0);  // -4 * 0.25 + 10, not -(1 + 10)
    supported(p, {"00", "04"});
    ASSERT_TRUE(p.value());
    EXPECT_EQ(p.value()->value, 11.0);
}

TEST(SignedNumericKindTest, WideFieldsNeverOverflow) {
    SignedNumericPID eight(Mode::LiveData, 0x99, "x", "x", 8, std::nullopt, std::nullopt, nullptr,
                           nullptr, 0, 0, 1, 0);
    supported(eight, {"80", "00", "00", "00", "00", "00", "00", "00"});
    EXPECT_FALSE(eight.value().has_value());  // does not fit a signed 64-bit number
    supported(eight, {"7F", "FF", "FF", "FF", "FF", "FF", "FF", "FF"});
    ASSERT_TRUE(eight.value());
    EXPECT_EQ(eight.value()->value, 9223372036854775807.0);
    SignedNumericPID nine(Mode::LiveData, 0x99, "x", "x", 9, std::nullopt, std::nullopt, nullptr,
                          nullptr, 0, 0, 1, 0);
    supported(nine, {"00", "FF", "FF", "FF", "FF", "FF", "FF", "FF", "FF"});
    EXPECT_FALSE(nine.value().has_value());
}

TEST(PartialByteKindTest, ReadsItsBits) {
    PartialByteNumericPID dtc(Mode::LiveData, 0x01, "DTCs", "DTC_CNT", 4, 0, ClosedRange{0, 6},
                              std::nullopt, nullptr, nullptr, std::nullopt, 48, 1, 0);
    supported(dtc, {"83", "00", "00", "00"});
    ASSERT_TRUE(dtc.value());
    EXPECT_EQ(dtc.value()->value, 3.0);
    supported(dtc, {"ZZ"});
    EXPECT_FALSE(dtc.value().has_value());
    supported(dtc, {});
    EXPECT_FALSE(dtc.value().has_value());
    PartialByteNumericPID high(Mode::LiveData, 0x01, "x", "x", 1, 0, ClosedRange{8, 12},
                               std::nullopt, nullptr, nullptr, std::nullopt, std::nullopt, 1, 0);
    supported(high, {"FF"});
    ASSERT_TRUE(high.value());
    EXPECT_EQ(high.value()->value, 0.0);
}

// --- Flag, raw bytes -----------------------------------------------------------------------

TEST(BinaryKindTest, OneBit) {
    BinaryPID mil(Mode::LiveData, 0x01, "MIL", "MIL", 4, 0, 7, std::nullopt);
    EXPECT_EQ(mil.category(), PIDCategory::boolean);
    supported(mil, {"80"});
    EXPECT_EQ(mil.value(), true);
    EXPECT_EQ(mil.valueAsText(false), "ON");
    EXPECT_EQ(mil.description(), "PID: 01, MIL, value: ON supported: supported");
    supported(mil, {"7F"});
    EXPECT_EQ(mil.value(), false);
    EXPECT_EQ(mil.valueAsText(false), "OFF");
    supported(mil, {});
    EXPECT_FALSE(mil.value().has_value());
    EXPECT_EQ(mil.valueAsText(false), "N/A");
    EXPECT_EQ(mil.description(), "PID: 01, MIL, value: N/A supported: supported");
    mil.setSupportStatus(SupportStatus::unsupported);
    EXPECT_EQ(mil.valueAsText(false), "Unsupported");

    // A bad text moves the later bytes forward.
    BinaryPID second(Mode::LiveData, 0x65, "PTO", "PTO_STAT", 2, 1, 0, 0);
    supported(second, {"XX", "01", "00"});
    EXPECT_EQ(second.value(), false);
    BinaryPID outside(Mode::LiveData, 0x65, "x", "x", 1, 0, 9, std::nullopt);
    supported(outside, {"FF"});
    EXPECT_EQ(outside.value(), false);
}

TEST(DirectDataKindTest, ReadableBytesOnly) {
    DirectDataPID loc(Mode::LiveData, 0x13, PIDCategory::other, "Location of Oxygen Sensors",
                      "O2SLOC", 1, ClosedRange{0, 0}, std::nullopt);
    EXPECT_EQ(loc.value(), std::vector<uint8_t>{});
    loc.setData({"01", "ZZ", "0F"});
    EXPECT_EQ(loc.value(), (std::vector<uint8_t>{1, 15}));
    EXPECT_EQ(loc.valueAsText(false), "N/A");
    EXPECT_EQ(loc.description(),
              "PID: 13, Location of Oxygen Sensors, value: 01 ZZ 0F supported: unknown");
}

// --- Enumerated ----------------------------------------------------------------------------

TEST(EnumeratedKindTest, FirstSetBit) {
    BinaryIndexedPID<FuelSystemStatus> p(Mode::LiveData, 0x03, "Fuel", "F", 2, 0, 0, std::nullopt);
    EXPECT_EQ(p.category(), PIDCategory::string);
    EXPECT_EQ(p.valueInternal(), FuelSystemStatus::Unknown);
    supported(p, {"00"});
    EXPECT_EQ(p.caseValue(), FuelSystemStatus::Unknown);
    supported(p, {"06"});
    EXPECT_EQ(p.caseValue(), caseAt<FuelSystemStatus>(1));
    supported(p, {"80"});
    EXPECT_EQ(p.caseValue(), caseAt<FuelSystemStatus>(7));
    EXPECT_EQ(p.value(), FuelSystemStatus::OLFaultB2);
    EXPECT_EQ(p.valueAsText(false), rawValue(FuelSystemStatus::OLFaultB2));
    supported(p, {});
    EXPECT_EQ(p.caseValue(), FuelSystemStatus::Unknown);
    EXPECT_EQ(p.description(), "PID: 03, Fuel, value: Unknown supported: supported");
    p.setSupportStatus(SupportStatus::unknown);
    EXPECT_EQ(p.valueAsText(false), "N/A");
}

TEST(EnumeratedKindTest, BitField) {
    BinarySumPID<TransmissionGear> all(Mode::LiveData, 0x65, "g", "g", 1, 0, std::nullopt, 4);
    EXPECT_EQ(all.bitsToRead(), (ClosedRange{0, 7}));
    supported(all, {"0A"});
    EXPECT_EQ(all.caseValue(), caseAt<TransmissionGear>(10));
    BinarySumPID<TransmissionGear> part(Mode::LiveData, 0x65, "g", "g", 1, 0, ClosedRange{4, 5}, 4);
    supported(part, {"3C"});
    EXPECT_EQ(part.caseValue(), caseAt<TransmissionGear>(3));
    supported(part, {"G0"});
    EXPECT_EQ(part.caseValue(), defaultValue<TransmissionGear>());
}

// --- Shared between threads -----------------------------------------------------------------

TEST(ParameterThreadingTest, ReadsDuringRefreshesSeeWholeAnswers) {
    auto p = rpm();
    p.setSupportStatus(SupportStatus::supported);
    p.setData({"00", "04"});
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i)
            p.setData(i % 2 ? std::vector<std::string>{"00", "04"}
                            : std::vector<std::string>{"1A", "F8"});
        stop = true;
    });
    int bad = 0;
    while (!stop) {
        auto text = p.valueAsText(false);
        if (text != "1.0 RPM" && text != "1726.0 RPM") ++bad;
    }
    writer.join();
    EXPECT_EQ(bad, 0);
}

}  // namespace
}  // namespace qz
