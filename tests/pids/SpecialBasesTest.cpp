#include <gtest/gtest.h>

#include "api/PIDs/Mode1/Mode1PIDs.hpp"
#include "api/PIDs/PID0902.hpp"
#include "api/PIDs/Units.hpp"

#include <cmath>

namespace qz {
namespace {

TEST(SpecialBasesTest, EgrTemperatureScaleFromSecondBit) {
    // Support bit 1, one byte, offset -40.
    PID016B_EGRTC p;  // bytes 2...2, support bit 1
    ASSERT_EQ(p.supportBit(), 1);
    struct Case {
        const char* first;
        SupportStatus status;
        double scale;
    } cases[] = {{"22", SupportStatus::supported, 1.0},
                 {"20", SupportStatus::supported, 4.0},
                 {"04", SupportStatus::unsupported, 4.0},  // scale unchanged
                 {"ZZ", SupportStatus::unsupported, 4.0}};
    for (const auto& c : cases) {
        p.setData({c.first, "00", "00", "00", "00"});
        p.setSupportedViaSupportBit();
        EXPECT_EQ(p.supportStatus(), c.status) << c.first;
        EXPECT_EQ(p.scalar(), c.scale) << c.first;
        EXPECT_EQ(p.maxValue(), 255 * c.scale - 40) << c.first;
    }
    PID016B_EGRTA a;  // support bit 0
    a.setData({"01"});
    a.setSupportedViaSupportBit();
    EXPECT_EQ(a.scalar(), 1.0);
    a.setData({"10"});
    a.setSupportedViaSupportBit();
    EXPECT_EQ(a.scalar(), 4.0);
    a.setData({"00"});
    a.setSupportedViaSupportBit();
    EXPECT_EQ(a.supportStatus(), SupportStatus::unsupported);
    PID016B_EGRTA empty;
    empty.setSupportedViaSupportBit();
    EXPECT_EQ(empty.supportStatus(), SupportStatus::unknown);
}

TEST(SpecialBasesTest, CompressorInletPressureScaleEight) {
    PID016F_TCA_CINP p;
    p.setData({"04", "10", "00"});
    p.setSupportedViaSupportBit();
    EXPECT_EQ(p.supportStatus(), SupportStatus::supported);
    EXPECT_EQ(p.scalar(), 8.0);
    EXPECT_EQ(p.maxValue(), 255 * 8.0);
    p.setSupportStatus(SupportStatus::supported);
    ASSERT_TRUE(p.value());
    EXPECT_EQ(p.value()->value, 128.0);
}

TEST(SpecialBasesTest, TimerUnavailableAtItsMaximum) {
    PID0181_AECD1_TIME2 t;  // bytes 5...8
    std::vector<std::string> data(41, "00");
    data[5] = data[6] = data[7] = data[8] = "FF";
    t.setData(data);
    t.setSupportStatus(SupportStatus::supported);
    EXPECT_FALSE(t.value().has_value());
    EXPECT_EQ(t.valueAsText(false), "N/A");
    data[8] = "FE";
    t.setData(data);
    ASSERT_TRUE(t.value());
    EXPECT_EQ(t.value()->value, 4294967294.0);
    EXPECT_EQ(t.value()->unit, &UnitDuration::seconds());
}

TEST(SpecialBasesTest, NoxConcentrationFlaggedUnavailable) {
    PID0183_NOX21 n;  // support bit 2, bytes 5...6
    std::vector<std::string> data(9, "00");
    data[6] = "64";
    data[0] = "44";
    n.setData(data);
    EXPECT_FALSE(n.value().has_value());
    data[0] = "04";
    n.setData(data);
    ASSERT_TRUE(n.value());
    EXPECT_EQ(n.value()->value, 100.0);
    data[0] = "XX";
    n.setData(data);
    ASSERT_TRUE(n.value());
    EXPECT_EQ(n.value()->value, 100.0);
    n.setData({});
    EXPECT_FALSE(n.value().has_value());
}

TEST(SpecialBasesTest, ReportedMaximumRescales) {
    PID0124_LAMBDA l;
    EXPECT_EQ(l.scalar(), 3.05e-05);
    EXPECT_EQ(l.maxValue(), 1.99);
    l.scaleBasedOnPID4FA(0.0001);
    EXPECT_EQ(l.scalar(), 0.0001);
    EXPECT_EQ(l.maxValue(), 65535 * 0.0001);
    EXPECT_EQ(l.minValue(), 0.0);
    l.scaleBasedOnPID4FA(2.0 / 65535);
    EXPECT_DOUBLE_EQ(l.maxValue(), 2.0);

    PID0110 maf;
    maf.scaleBasedOnPID50A(10.0 / 65535);
    EXPECT_DOUBLE_EQ(maf.maxValue(), 10.0);
    PID010B map;
    map.scaleBasedOnPID4FD(2.0);
    EXPECT_EQ(map.maxValue(), 510.0);
    PID0124_O2S v;
    v.scaleBasedOnPID4FB(8.0 / 65535);
    EXPECT_DOUBLE_EQ(v.maxValue(), 8.0);
}

TEST(SpecialBasesTest, CurrentRescaleKeepsOffsetSteps) {
    PID0134_O2S c;
    EXPECT_EQ(c.scalar(), 0.00390625);
    EXPECT_EQ(c.offset(), -128.0);
    c.scaleBasedOnPID4FC(128.0 / 32768);
    EXPECT_EQ(c.scalar(), 128.0 / 32768);
    EXPECT_EQ(c.offset(), -128.0);
    EXPECT_EQ(c.minValue(), -128.0);
    c.scaleBasedOnPID4FC(64.0 / 32768);
    EXPECT_EQ(c.offset(), -64.0);
    EXPECT_EQ(c.minValue(), -64.0);
    EXPECT_EQ(c.maxValue(), 65535 * (64.0 / 32768) - 64.0);
    // From a zero scale there are no steps to keep and nothing is divided by zero.
    c.scaleBasedOnPID4FC(0.0);
    EXPECT_EQ(c.offset(), 0.0);
    c.scaleBasedOnPID4FC(1.0 / 256);
    EXPECT_TRUE(std::isfinite(c.offset()));
    EXPECT_EQ(c.offset(), 0.0);
    EXPECT_EQ(c.scalar(), 1.0 / 256);
}

// --- Vehicle identification number ---------------------------------------------------------

TEST(VinParameterTest, FixedDescription) {
    PID0902 vin;
    EXPECT_EQ(vin.mode(), Mode::VehicleInfo);
    EXPECT_EQ(vin.pid(), 2u);
    EXPECT_EQ(vin.category(), PIDCategory::other);
    EXPECT_EQ(vin.fullName(), "Vehicle Identification Number");
    EXPECT_EQ(vin.shortName(), "VIN");
    EXPECT_EQ(vin.responseBytes(), 17);
    EXPECT_EQ(vin.supportBit(), std::nullopt);
    EXPECT_EQ(vin.bytesToRead(), (ClosedRange{0, 16}));
    EXPECT_EQ(vin.description(), "PID: 02, Vehicle Identification Number, supported: unknown");
}

TEST(VinParameterTest, TextFromBytes) {
    PID0902 vin;
    EXPECT_EQ(vin.value(), "");
    EXPECT_EQ(vin.valueAsText(false), "");
    EXPECT_EQ(vin.valueAsText(true), "");
    vin.setData({"31", "47", "31"});
    EXPECT_EQ(vin.value(), "1G1");
    vin.setData({"4a", "4A", "", "zz", "100", "31"});
    EXPECT_EQ(vin.valueAsText(false), "JJ1");
    vin.setData({"41", "00", "42"});
    EXPECT_EQ(vin.value(), std::string("A\0B", 3));
    vin.setData({"E9"});
    EXPECT_EQ(vin.value(), "\xC3\xA9");  // U+00E9
}

}  // namespace
}  // namespace qz
