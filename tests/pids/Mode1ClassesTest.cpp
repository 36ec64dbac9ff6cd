#include <gtest/gtest.h>

#include <map>
#include <type_traits>

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

// Every class on its published base: the classes of the special bases and kinds by name, and
// the remaining classes on the plain numeric kind.
template <class Base, class... Classes>
constexpr bool allOn = (std::is_same_v<typename Classes::Super, Base> && ...);

static_assert(allOn<SignedNumericPID, PID0132, PID0154, PID017A_PF1_DP, PID017B_PF2_DP,
                    PID018F_PM11, PID018F_PM21, PID019A_HEV_BATT_A, PID01A3_EVAP_A_VP,
                    PID01A3_EVAP_A_VP_WR, PID01A3_EVAP_B_VP, PID01A3_EVAP_B_VP_WR, PID01AD_CKC_P,
                    PID01AE_EVAP_PP, PID01AE_EVAP_PP_WR>);
static_assert(allOn<PartialByteNumericPID, PID0101_DTC_CNT>);
static_assert(
    allOn<NumericPIDValueUnavailableIfMaxxed, PID0181_AECD1_TIME2, PID0181_AECD2_TIME2,
          PID0181_AECD3_TIME2, PID0181_AECD4_TIME2, PID0181_AECD5_TIME2, PID0182_AECD10_TIME2,
          PID0182_AECD6_TIME2, PID0182_AECD7_TIME2, PID0182_AECD8_TIME2, PID0182_AECD9_TIME2,
          PID0189_AECD11_TIME2, PID0189_AECD12_TIME2, PID0189_AECD13_TIME2, PID0189_AECD14_TIME2,
          PID0189_AECD15_TIME2, PID018A_AECD16_TIME2, PID018A_AECD17_TIME2, PID018A_AECD18_TIME2,
          PID018A_AECD19_TIME2, PID018A_AECD20_TIME2>);
static_assert(allOn<NoXConcentrationPIDBase, PID0183_NOX11, PID0183_NOX12, PID0183_NOX21,
                    PID0183_NOX22, PID01A1_NOXC11, PID01A1_NOXC12, PID01A1_NOXC21, PID01A1_NOXC22,
                    PID01A7_NOX13, PID01A7_NOX14, PID01A7_NOX23, PID01A7_NOX24, PID01A8_NOXC13,
                    PID01A8_NOXC14, PID01A8_NOXC23, PID01A8_NOXC24>);
static_assert(allOn<PIDScaledByPID4FA, PID0124_LAMBDA, PID0125_LAMBDA, PID0126_LAMBDA,
                    PID0127_LAMBDA, PID0128_LAMBDA, PID0129_LAMBDA, PID012A_LAMBDA, PID012B_LAMBDA,
                    PID0134_LAMBDA, PID0135_LAMBDA, PID0136_LAMBDA, PID0137_LAMBDA, PID0138_LAMBDA,
                    PID0139_LAMBDA, PID013A_LAMBDA, PID013B_LAMBDA, PID0144>);
static_assert(allOn<PIDScaledByPID4FB, PID0124_O2S, PID0125_O2S, PID0126_O2S, PID0127_O2S,
                    PID0128_O2S, PID0129_O2S, PID012A_O2S, PID012B_O2S>);
static_assert(allOn<PIDScaledByPID4FC, PID0134_O2S, PID0135_O2S, PID0136_O2S, PID0137_O2S,
                    PID0138_O2S, PID0139_O2S, PID013A_O2S, PID013B_O2S>);
static_assert(allOn<PIDScaledByPID4FD, PID010B>);
static_assert(allOn<PIDScaledByPID50A, PID0110>);
static_assert(allOn<PID016BBase, PID016B_EGRTA, PID016B_EGRTB, PID016B_EGRTC, PID016B_EGRTD>);
static_assert(allOn<PID016FBase, PID016F_TCA_CINP, PID016F_TCB_CINP>);
static_assert(
    allOn<BinaryPID, PID0101_MIL, PID011E, PID0165_GPL_STAT, PID0165_PTO_STAT,
          PID0188_SCR_INDUCE_SYSTEM_ACTIVE, PID0188_SCR_INDUCE_SYSTEM_HIST1_ACTIVE,
          PID0188_SCR_INDUCE_SYSTEM_HIST2_ACTIVE, PID0188_SCR_INDUCE_SYSTEM_HIST3_ACTIVE,
          PID0188_SCR_INDUCE_SYSTEM_HIST4_ACTIVE, PID018B_NOX_ADS_DESULF, PID018B_NOX_ADS_REGEN,
          PID018B_PF_REGEN_STAT, PID018F_PM11_ACTIVE, PID018F_PM11_REGEN, PID018F_PM21_ACTIVE,
          PID018F_PM21_REGEN, PID0194_NOX_WARN_ACT, PID01A9_ABS_DISABLED>);
static_assert(allOn<DirectDataPID, PID0113, PID011D>);
static_assert(allOn<BinaryIndexedPID<AirStatus>, PID0112>);
static_assert(allOn<BinaryIndexedPID<ControlAreaStatus>, PID017D, PID017E>);
static_assert(allOn<BinaryIndexedPID<FuelSystemStatus>, PID0103_FUELSYSA, PID0103_FUELSYSB>);
static_assert(allOn<BinaryIndexedPID<SCRInducementState>, PID0188_SCR_INDUCE_SYSTEM,
                    PID0188_SCR_INDUCE_SYSTEM_HIST1, PID0188_SCR_INDUCE_SYSTEM_HIST2,
                    PID0188_SCR_INDUCE_SYSTEM_HIST3, PID0188_SCR_INDUCE_SYSTEM_HIST4>);
static_assert(allOn<BinarySumPID<AutoNeuralDriveStatus>, PID0165_ND_STAT_AUTO>);
static_assert(allOn<BinarySumPID<DEFDosingMode>, PID01AC_DEF_MODE>);
static_assert(allOn<BinarySumPID<DEFType>, PID019B>);
static_assert(allOn<BinarySumPID<DiscriminatoryDisplayStrategy>, PID0190_MI_DISP_VOBD>);
static_assert(allOn<BinarySumPID<EVChargingState>, PID019A_HEV_MODE, PID019A_HEV_MODE_E>);
static_assert(allOn<BinarySumPID<EmissionRequirements>, PID015F>);
static_assert(allOn<BinarySumPID<EmissionsSystemReadiness>, PID0190_VOBD_RDY>);
static_assert(allOn<BinarySumPID<FuelType>, PID0151>);
static_assert(
    allOn<BinarySumPID<InducementStatus>, PID0194_INDUC_L1, PID0194_INDUC_L2, PID0194_INDUC_L3>);
static_assert(
    allOn<BinarySumPID<LoopStatus>, PID0170_BP_A, PID0170_BP_B, PID0171_VGT_A, PID0171_VGT_B>);
static_assert(allOn<BinarySumPID<MIActivationMode>, PID0190_MI_MODE_VOBD, PID0191_MI_MODE_ECU>);
static_assert(allOn<BinarySumPID<ManualTransNeutralGearStatus>, PID0165_NG_STAT_MANUAL>);
static_assert(allOn<BinarySumPID<OBDRequirements>, PID011C>);
static_assert(allOn<BinarySumPID<RegenType>, PID018B_PF_REGEN_TYPE>);
static_assert(
    allOn<BinarySumPID<SimpleLoopStatus>, PID0192_FIQ1_CL, PID0192_FIQ2_CL, PID0192_FIT1_CL,
          PID0192_FIT2_CL, PID0192_FP1_CL, PID0192_FP2_CL, PID0192_IFB1_CL, PID0192_IFB2_CL>);
static_assert(allOn<BinarySumPID<TransmissionGear>, PID0165_GEAR_RCMD, PID01A4_GEAR_ACT>);

constexpr int kPlainNumericClasses = 0
#define QZ_PID(Class, Base, row) +(std::is_same_v<Class::Super, NumericPID> ? 1 : 0)
#define QZ_PID13(Class, Base, row) QZ_PID(Class, Base, row)
#include "api/PIDs/Mode1/Mode1PIDTable.inc"
#undef QZ_PID
#undef QZ_PID13
    ;
static_assert(kPlainNumericClasses == 281);

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

TEST(BitFieldClassesTest, DefTypeBesideItsSupportBits) {
    // Byte A of 01 9B: the fluid type in the high nibble, the four support bits below it.
    PID019B type;
    PID019B_DEF_LVL level;
    for (PIDInfo* p : {static_cast<PIDInfo*>(&type), static_cast<PIDInfo*>(&level)}) {
        p->setData({"2F", "00", "00", "80"});
        p->setSupportedViaSupportBit();
        EXPECT_EQ(p->supportStatus(), SupportStatus::supported);
    }
    EXPECT_EQ(type.valueAsText(), "DEF is proper mixture");
    type.setData({"D7", "00", "00", "00"});
    EXPECT_EQ(type.caseValue(), DEFType::unavailable);
    type.setData({"20", "00", "00", "00"});
    type.setSupportedViaSupportBit();
    EXPECT_EQ(type.supportStatus(), SupportStatus::unsupported);
}

}  // namespace
}  // namespace qz
