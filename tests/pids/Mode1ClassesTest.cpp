#include <gtest/gtest.h>

#include <map>

#include "api/PIDs/Mode1/Mode1PIDs.hpp"
#include "api/PIDs/PIDInterface.hpp"

namespace qz {
namespace {

using Bytes = std::vector<uint8_t>;

// Every class that adapts to the sensor layout, made fresh and run through the rule.
std::map<std::string, std::shared_ptr<PIDInfo>> conformAll(const Bytes& val13, const Bytes& val1D) {
    std::map<std::string, std::shared_ptr<PIDInfo>> out;
    for (const auto& info : mode1Classes()) {
        auto p = info.make(Mode::LiveData);
        auto* adaptive = dynamic_cast<PIDDeterminedByPID13*>(p.get());
        if (!adaptive) continue;
        p->setSupportStatus(SupportStatus::supported);
        adaptive->conformBasedOnPIDS(val13, val1D);
        out[std::string(info.name)] = p;
    }
    return out;
}

bool isPositionClass(const std::string& name) {
    return name.rfind("PID0106", 0) != 0 && name.rfind("PID0107", 0) != 0;
}

TEST(SensorLayoutTest, FiftyTwoAdaptiveClasses) {
    EXPECT_EQ(conformAll({}, {}).size(), 52u);
}

TEST(SensorLayoutTest, NoAnswersDropEverySensorAndBankThree) {
    auto all = conformAll({}, {});
    for (auto& [name, p] : all) {
        if (isPositionClass(name)) {
            EXPECT_EQ(p->supportStatus(), SupportStatus::unsupported) << name;
        }
    }
    EXPECT_EQ(all["PID0118_O2SB2S1"]->fullName(), "O2 Bank 2 - Sensor 1 - Oxygen Sensor Voltage");
    EXPECT_EQ(all["PID0106_SHRTF1"]->responseBytes(), 1);
    EXPECT_EQ(all["PID0107_LONGFT1"]->responseBytes(), 1);
    EXPECT_EQ(all["PID0106_SHRTF1"]->supportStatus(), SupportStatus::supported);
    EXPECT_EQ(all["PID0106_SHRTF3"]->supportStatus(), SupportStatus::unsupported);
    EXPECT_EQ(all["PID0107_LONGFT3"]->supportStatus(), SupportStatus::unsupported);
}

TEST(SensorLayoutTest, TwoBankLayout) {
    auto all = conformAll({0x0F}, {});
    for (const char* n :
         {"PID0114_O2SB1S1", "PID0115_SHRTFTB1S2", "PID0116_O2SB1S3", "PID0117_O2SB1S4",
          "PID0124_LAMBDA", "PID0127_O2S", "PID0134_LAMBDA", "PID0135_O2S", "PID0137_O2S"})
        EXPECT_EQ(all[n]->supportStatus(), SupportStatus::supported) << n;
    for (const char* n : {"PID0118_O2SB2S1", "PID0119_SHRTFTB2S2", "PID011A_O2SB2S3",
                          "PID011B_O2SB2S4", "PID0128_LAMBDA", "PID013B_O2S"})
        EXPECT_EQ(all[n]->supportStatus(), SupportStatus::unsupported) << n;
    EXPECT_EQ(all["PID0116_O2SB1S3"]->fullName(), "O2 Bank 1 - Sensor 3 - Oxygen Sensor Voltage");
    EXPECT_EQ(all["PID0116_O2SB1S3"]->shortName(), "O2SB1S3");
    EXPECT_EQ(all["PID0106_SHRTF3"]->supportStatus(), SupportStatus::unsupported);
    EXPECT_EQ(all["PID0106_SHRTF1"]->responseBytes(), 1);
}

TEST(SensorLayoutTest, FourBankLayout) {
    auto all = conformAll({}, {0x33});
    for (const char* n :
         {"PID0114_O2SB1S1", "PID0115_O2SB1S2", "PID0118_O2SB2S1", "PID0119_O2SB2S2"})
        EXPECT_EQ(all[n]->supportStatus(), SupportStatus::supported) << n;
    for (const char* n :
         {"PID0116_O2SB1S3", "PID0117_O2SB1S4", "PID011A_O2SB2S3", "PID011B_O2SB2S4"})
        EXPECT_EQ(all[n]->supportStatus(), SupportStatus::unsupported) << n;
    EXPECT_EQ(all["PID0118_O2SB2S1"]->fullName(), "O2 Bank 3 - Sensor 1 - Oxygen Sensor Voltage");
    EXPECT_EQ(all["PID0118_O2SB2S1"]->shortName(), "O2SB3S1");
    EXPECT_EQ(all["PID0119_SHRTFTB2S2"]->fullName(), "O2 Bank 3 - Sensor 2 - Short Term Fuel Trim");
    EXPECT_EQ(all["PID0119_SHRTFTB2S2"]->shortName(), "SHRTFTB3S2");
    // Bank 3 present: trims untouched.
    EXPECT_EQ(all["PID0106_SHRTF1"]->responseBytes(), 2);
    EXPECT_EQ(all["PID0106_SHRTF3"]->supportStatus(), SupportStatus::supported);
    EXPECT_EQ(all["PID0107_LONGFT3"]->supportStatus(), SupportStatus::supported);
}

TEST(SensorLayoutTest, TwoBankAnswerDecides) {
    EXPECT_EQ(conformAll({0x10}, {0x10})["PID0118_O2SB2S1"]->shortName(), "O2SB2S1");
    EXPECT_EQ(conformAll({0x00}, {0x10})["PID0118_O2SB2S1"]->shortName(), "O2SB3S1");
    for (auto& [name, p] : conformAll({}, {0x00, 0xFF})) {
        if (isPositionClass(name)) {
            EXPECT_EQ(p->supportStatus(), SupportStatus::unsupported) << name;
        }
    }
}

TEST(SensorLayoutTest, WideRangeNames) {
    auto a = conformAll({0x80}, {});
    EXPECT_EQ(a["PID013B_O2S"]->fullName(), "Wide Range O2S: Bank 2 - Sensor 4 - Current");
    EXPECT_EQ(a["PID013B_O2S"]->shortName(), "O2SB2S4");
    EXPECT_EQ(conformAll({0x40}, {})["PID013B_O2S"]->supportStatus(), SupportStatus::unsupported);
    auto b = conformAll({}, {0x20});
    EXPECT_EQ(b["PID0139_LAMBDA"]->fullName(),
              "Wide Range O2S: Bank 3 - Sensor 2 - Equivalence Ratio");
    EXPECT_EQ(b["PID0139_LAMBDA"]->shortName(), "LAMBDAB3S2");
    auto c = conformAll({0x40}, {});
    EXPECT_EQ(c["PID012A_O2S"]->fullName(), "Wide Range O2 Bank 2, Sensor 3 - Voltage");
    EXPECT_EQ(c["PID012A_O2S"]->shortName(), "O2SB2S3");
    auto d = conformAll({}, {0x40});
    EXPECT_EQ(d["PID012A_LAMBDA"]->fullName(),
              "Wide Range O2 Bank 4, Sensor 1 - Equivalence Ratio");
    EXPECT_EQ(d["PID012A_LAMBDA"]->shortName(), "LAMBDAB4S1");
    // Bits 0 and 1 keep their catalogue names.
    auto e = conformAll({0x03}, {});
    EXPECT_EQ(e["PID0134_O2S"]->fullName(), "Wide Range O2S: Bank 1 - Sensor 1 - Current");
    EXPECT_EQ(e["PID0115_O2SB1S2"]->fullName(), "O2 Bank 1 - Sensor 2 - Oxygen Sensor Voltage");
}

TEST(SensorLayoutTest, ChangesStayUntilTheNextRewrite) {
    PID0118_O2SB2S1 p;
    p.conformBasedOnPIDS({}, {0x10});
    EXPECT_EQ(p.shortName(), "O2SB3S1");
    p.conformBasedOnPIDS({}, {});
    EXPECT_EQ(p.supportStatus(), SupportStatus::unsupported);
    EXPECT_EQ(p.shortName(), "O2SB3S1");
    PID0106_SHRTF1 t;
    t.conformBasedOnPIDS({}, {});
    t.conformBasedOnPIDS({}, {0x30});
    EXPECT_EQ(t.responseBytes(), 1);
}

TEST(FirstSetBitClassesTest, DataOfTheNineClasses) {
    PID0103_FUELSYSA f;
    EXPECT_EQ(f.fullName(), "Fuel System \"A\" Status");
    EXPECT_EQ(f.fullName().size(), 22u);
    EXPECT_EQ(f.category(), PIDCategory::string);
    EXPECT_EQ(f.supportBit(), std::nullopt);
    PID0188_SCR_INDUCE_SYSTEM_HIST2 h2;
    EXPECT_EQ(h2.valueInternal(), SCRInducementState::inactive);
    EXPECT_EQ(h2.caseValue(), SCRInducementState::inactive);
    EXPECT_EQ(h2.bytesToRead(), (ClosedRange{1, 1}));
    EXPECT_EQ(h2.startingBit(), 4);
    EXPECT_EQ(h2.responseBytes(), 13);
    EXPECT_EQ(h2.shortName(), "SRC_INDUCE_SYSTEM_HIST2");
}

TEST(FirstSetBitClassesTest, WorkedValues) {
    PID0112 air;
    air.setSupportStatus(SupportStatus::supported);
    std::pair<const char*, const char*> cases[] = {{"00", "Unknown"},
                                                   {"01", "Upstream of first catalytic converter"},
                                                   {"0C", "Atmosphere / Off"},
                                                   {"10", "Unknown"}};
    for (auto [byte, text] : cases) {
        air.setData({byte});
        EXPECT_EQ(air.valueAsText(false), text) << byte;
    }
    PID0188_SCR_INDUCE_SYSTEM_HIST1 h1;
    PID0188_SCR_INDUCE_SYSTEM_HIST2 h2;
    std::vector<std::string> data(13, "00");
    data[1] = "10";
    h1.setData(data);
    h2.setData(data);
    EXPECT_EQ(h1.caseValue(), SCRInducementState::inactive);
    EXPECT_EQ(h2.caseValue(), SCRInducementState::low);
    data[1] = "00";
    h1.setData(data);
    h2.setData(data);
    EXPECT_EQ(h1.caseValue(), SCRInducementState::inactive);
    EXPECT_EQ(h2.caseValue(), SCRInducementState::inactive);
    PID0103_FUELSYSA f;
    f.setData({"80", "00"});
    EXPECT_EQ(f.caseValue(), FuelSystemStatus::OLFaultB2);
    f.setData({"00", "00"});
    EXPECT_EQ(f.caseValue(), FuelSystemStatus::Unknown);
}

TEST(BitFieldClassesTest, DefaultInForceWhenBuilt) {
    setDefaultValue(TransmissionGear::neutral);
    PID0165_GEAR_RCMD g;
    g.setSupportStatus(SupportStatus::supported);
    EXPECT_EQ(g.valueAsText(false), "Neutral");
    EXPECT_EQ(g.valueInternal(), TransmissionGear::neutral);
    setDefaultValue(TransmissionGear::unknown);
    EXPECT_EQ(g.valueAsText(false), "Unknown");
}

}  // namespace
}  // namespace qz
