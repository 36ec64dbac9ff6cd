#include <gtest/gtest.h>

#include "api/milstatus/PID0101_MonitorStatus.hpp"

using namespace qz;
using S = MonitorTestStatus;

TEST(MonitorStatus, DecodesASparkEngineWithAnIncompleteMonitor) {
    PID0101_MonitorStatus m;
    m.setData({"81", "07", "65", "04"});
    EXPECT_TRUE(m.milOn());
    EXPECT_EQ(m.dtcCount(), 1);
    EXPECT_EQ(m.misfireTest(), S::complete);
    EXPECT_EQ(m.fuelSystemTest(), S::complete);
    EXPECT_EQ(m.componentsTest(), S::complete);
    ASSERT_EQ(m.monitorType().kind(), MonitorTestType::Kind::spark);
    auto s = m.monitorType().sparkTests().value();
    EXPECT_EQ(s.eGRSystem(), S::unavailable);
    EXPECT_EQ(s.oxygenSensorHeater(), S::complete);
    EXPECT_EQ(s.oxygenSensor(), S::complete);
    EXPECT_EQ(s.aCRefrigerant(), S::unavailable);
    EXPECT_EQ(s.secondaryAirSystem(), S::unavailable);
    EXPECT_EQ(s.evaporativeSystem(), S::incomplete);
    EXPECT_EQ(s.heatedCatalyst(), S::unavailable);
    EXPECT_EQ(s.catalyst(), S::complete);
    EXPECT_FALSE(m.areAllComplete());
    EXPECT_EQ(m.description().rfind(
                  "Monitor test status: Mil is on, dtcCount: 1 componentsTest complete, "
                  "fuelSystemTest complete, misfireTest complete, monitorType: spark(sparkTests: "
                  "EGR System: unavailable, Oxygen Sensor Heater: complete, Oxygen Sensor: "
                  "complete",
                  0),
              0u);
    EXPECT_EQ(m.value(), std::nullopt);
}

TEST(MonitorStatus, DecodesACompressionEngineIgnoringReservedBits) {
    PID0101_MonitorStatus m;
    m.setData({"00", "08", "FF", "14"});
    ASSERT_EQ(m.monitorType().kind(), MonitorTestType::Kind::compression);
    auto c = m.monitorType().compressionTests().value();
    for (auto s : {c.eGRAndOrVVTSystem(), c.pMFilterMonitoring(), c.exhaustGasSensor(),
                   c.boostPressure(), c.nOxSCRMonitor(), c.nMHCCatalyst()})
        EXPECT_EQ(s, S::complete);
    EXPECT_EQ(m.misfireTest(), S::unavailable);
    EXPECT_EQ(m.componentsTest(), S::unavailable);
    EXPECT_TRUE(m.areAllComplete());
    EXPECT_NE(m.description().find("monitorType: compression(compressionTests: EGR/VVT System: "
                                   "complete, PM Filter Monitoring: complete"),
              std::string::npos);
}

TEST(MonitorStatus, EdgeBytes) {
    PID0101_MonitorStatus m;
    m.setData({"00", "00", "00", "00"});
    EXPECT_EQ(m.monitorType().kind(), MonitorTestType::Kind::spark);
    EXPECT_TRUE(m.areAllComplete());

    m.setData({"FF", "40", "00", "00"});  // B bit 6 without bit 2
    EXPECT_TRUE(m.milOn());
    EXPECT_EQ(m.dtcCount(), 127);
    EXPECT_EQ(m.componentsTest(), S::unavailable);

    m.setData({"0x80", "zz", "", "100"});  // unreadable bytes read as 0
    EXPECT_TRUE(m.milOn());
    EXPECT_EQ(m.dtcCount(), 0);
    EXPECT_EQ(m.misfireTest(), S::unavailable);
}

TEST(MonitorStatus, WrongLengthChangesNothing) {
    PID0101_MonitorStatus fresh;
    fresh.setData({"81", "07", "65"});
    fresh.setData({"81", "07", "65", "04", "00"});
    EXPECT_EQ(fresh.monitorType().kind(), MonitorTestType::Kind::unknown);
    EXPECT_FALSE(fresh.areAllComplete());
    EXPECT_EQ(fresh.description(),
              "Monitor test status: Mil is off, dtcCount: 0 componentsTest unknown, "
              "fuelSystemTest unknown, misfireTest unknown, monitorType: unknown");
    EXPECT_EQ(fresh.pid(), 0x01u);
    EXPECT_EQ(fresh.shortName(), "MIL");
    EXPECT_EQ(fresh.responseBytes(), 4);

    PID0101_MonitorStatus m;
    m.setData({"81", "07", "65", "04"});
    m.setData({"00", "08", "FF"});
    EXPECT_TRUE(m.milOn());
    EXPECT_EQ(m.monitorType().kind(), MonitorTestType::Kind::spark);
}

TEST(MonitorStatus, StatusRule) {
    EXPECT_EQ(PID0101_MonitorStatus::statusFromBytes(0, 1), S::unavailable);
    EXPECT_EQ(PID0101_MonitorStatus::statusFromBytes(1, 1), S::incomplete);
    EXPECT_EQ(PID0101_MonitorStatus::statusFromBytes(1, 0), S::complete);
}
