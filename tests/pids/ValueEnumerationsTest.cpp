#include <gtest/gtest.h>

#include <initializer_list>
#include <string_view>
#include <typeinfo>

#include "api/PIDs/Enums/ValueEnumerations.hpp"

namespace qz {
namespace {

template <class E>
concept HasSettableDefault = requires(E e) {
    setDefaultValue(e);
};

template <class E>
std::string_view textAt(int64_t index) {
    return rawValue(caseAt<E>(index));
}

template <class E>
struct CaseText {
    E value;
    std::string_view text;
};

// The cases of E in order, each with its display text, which reads back to the case; the
// initial default and whether the host may replace it.
template <class E>
void expectEnumeration(std::initializer_list<CaseText<E>> cases, E initialDefault, bool settable) {
    SCOPED_TRACE(typeid(E).name());
    ASSERT_EQ(caseCount<E>(), cases.size());
    auto all = allCases<E>();
    size_t order = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(all[order], c.value) << order;
        EXPECT_EQ(rawValue(c.value), c.text) << order;
        EXPECT_EQ(fromRawValue<E>(c.text), c.value) << order;
        ++order;
    }
    EXPECT_EQ(PIDEnumTable<E>::initialDefault, initialDefault);
    EXPECT_EQ(HasSettableDefault<E>, settable);
}

TEST(ValueEnumerationsTest, EveryCaseTextDefaultAndSetter){
#include "EnumerationCases.inc"
}

TEST(ValueEnumerationsTest, CaseCountsAndUnknownCase) {
    EXPECT_EQ(caseCount<AirStatus>(), 5u);
    EXPECT_EQ(caseCount<FuelSystemStatus>(), 9u);
    EXPECT_EQ(caseCount<FuelType>(), 32u);
    EXPECT_EQ(caseCount<OBDRequirements>(), 43u);
    EXPECT_EQ(caseCount<TransmissionGear>(), 17u);
    EXPECT_EQ(caseCount<MIActivationMode>(), 8u);
    EXPECT_EQ(allCases<OBDRequirements>().size(), 43u);
    EXPECT_EQ(allCases<FuelType>().back(), FuelType::kerosene);
    EXPECT_EQ(rawValue(FuelSystemStatus::Unknown), "Unknown");
    EXPECT_EQ(rawValue(SCRInducementState::unknown), "Unknown");
    EXPECT_EQ(defaultValue<SCRInducementState>(), SCRInducementState::inactive);
    EXPECT_EQ(defaultValue<FuelSystemStatus>(), FuelSystemStatus::Unknown);
}

TEST(ValueEnumerationsTest, PlainRule) {
    EXPECT_EQ(caseAt<AirStatus>(-1), AirStatus::unknown);
    EXPECT_EQ(caseAt<AirStatus>(0), AirStatus::upstream);
    EXPECT_EQ(caseAt<AirStatus>(3), AirStatus::diagnostic);
    EXPECT_EQ(caseAt<AirStatus>(4), AirStatus::unknown);  // no case: default
    EXPECT_EQ(caseAt<AirStatus>(-2), AirStatus::unknown);
    EXPECT_EQ(textAt<LoopStatus>(0), "Reserved, not defined");
    EXPECT_EQ(textAt<LoopStatus>(3), "Fault Present Boost Data Unreliable");
    EXPECT_EQ(caseAt<TransmissionGear>(15), TransmissionGear::gear15);
    EXPECT_EQ(textAt<TransmissionGear>(1), "Gear 1/Reverse");
}

TEST(ValueEnumerationsTest, FuelTypeRule) {
    EXPECT_EQ(textAt<FuelType>(0), "Not Available");
    EXPECT_EQ(textAt<FuelType>(23), "Bi-Fuel Vehicle Using Diesel");
    EXPECT_EQ(textAt<FuelType>(25), "Bi-Fuel Vehicle Using Diesel");
    EXPECT_EQ(textAt<FuelType>(24), "Bi-Fuel Vehicle Using Natural Gas");
    EXPECT_EQ(textAt<FuelType>(26), "Natural Gas");
    EXPECT_EQ(textAt<FuelType>(27), "Dual Fuel - Diesel and CNG");
    EXPECT_EQ(textAt<FuelType>(31), "Kerosene");
    EXPECT_EQ(textAt<FuelType>(32), "Unknown");
    EXPECT_EQ(textAt<FuelType>(255), "Unknown");
}

TEST(ValueEnumerationsTest, OBDRequirementsRule) {
    EXPECT_EQ(textAt<OBDRequirements>(0), "Unknown");
    for (int i : {16, 22, 27, 44, 250}) EXPECT_EQ(textAt<OBDRequirements>(i), "SAE/ISO Reserved");
    EXPECT_EQ(textAt<OBDRequirements>(21), "World Wide Harmonized OBD");
    EXPECT_EQ(textAt<OBDRequirements>(23), "Heavy Duty Euro OBD Stage I without NOx Control");
    EXPECT_EQ(textAt<OBDRequirements>(26), "Heavy Duty Euro OBD Stage II with NOx Control");
    EXPECT_EQ(textAt<OBDRequirements>(28), "Brazil OBD Phase 1");
    EXPECT_EQ(textAt<OBDRequirements>(43), "China Heavy Duty VI");
    EXPECT_EQ(textAt<OBDRequirements>(251), "SAE/ISO - Not available for assignment");
    EXPECT_EQ(textAt<OBDRequirements>(255), "SAE/ISO - Not available for assignment");
    EXPECT_EQ(caseAt<OBDRequirements>(-1), OBDRequirements::unknown);
}

TEST(ValueEnumerationsTest, OtherRemappedRules) {
    for (int i : {0, 13, 18, 255, -5})
        EXPECT_EQ(textAt<EmissionRequirements>(i), "ISO/SAE Reserved");
    EXPECT_EQ(textAt<EmissionRequirements>(14), "Heavy Duty Vehicles (EURO IV) B1");
    EXPECT_EQ(textAt<EmissionRequirements>(17), "Heavy Duty Vehicles (Euro VI)");
    EXPECT_EQ(textAt<MIActivationMode>(4), "Reserved");
    EXPECT_EQ(textAt<MIActivationMode>(13), "Reserved");
    EXPECT_EQ(textAt<MIActivationMode>(14), "Error");
    EXPECT_EQ(textAt<MIActivationMode>(15), "Not available / Not required of this vehicle");
    EXPECT_EQ(textAt<MIActivationMode>(16), "Unknown");
    EXPECT_EQ(textAt<DEFDosingMode>(0), "Dosing System Off");
    EXPECT_EQ(textAt<DEFDosingMode>(1), "Manufacturer Specific");
    EXPECT_EQ(textAt<DEFDosingMode>(200), "Manufacturer Specific");
    EXPECT_EQ(caseAt<DEFType>(3), DEFType::unavailable);
    EXPECT_EQ(caseAt<DEFType>(13), DEFType::unavailable);
    EXPECT_EQ(caseAt<DEFType>(14), DEFType::fault);
    EXPECT_EQ(caseAt<DEFType>(7), defaultValue<DEFType>());
    EXPECT_EQ(caseAt<SCRInducementState>(-2), SCRInducementState::unknown);
    EXPECT_EQ(caseAt<SCRInducementState>(-1), SCRInducementState::inactive);
    EXPECT_EQ(caseAt<SCRInducementState>(3), SCRInducementState::high);
    EXPECT_EQ(caseAt<SCRInducementState>(4), SCRInducementState::inactive);
}

TEST(ValueEnumerationsTest, FromRawValue) {
    EXPECT_EQ(fromRawValue<AirStatus>("Unknown"), AirStatus::unknown);
    EXPECT_EQ(fromRawValue<FuelSystemStatus>("Unknown"), FuelSystemStatus::Unknown);
    EXPECT_EQ(fromRawValue<AirStatus>("unknown"), std::nullopt);
    EXPECT_EQ(fromRawValue<AirStatus>("Unknown "), std::nullopt);
    EXPECT_EQ(fromRawValue<AirStatus>(""), std::nullopt);
    EXPECT_EQ(fromRawValue<RegenType>("Passive"), RegenType::passive);
    EXPECT_EQ(fromRawValue<DiscriminatoryDisplayStrategy>("Reserved"),
              DiscriminatoryDisplayStrategy::reserved);
    EXPECT_EQ(fromRawValue<MIActivationMode>("Reserved"), MIActivationMode::reserved);
}

TEST(ValueEnumerationsTest, SettableDefaultAppliesToLaterIndices) {
    setDefaultValue(TransmissionGear::neutral);
    EXPECT_EQ(caseAt<TransmissionGear>(99), TransmissionGear::neutral);
    setDefaultValue(TransmissionGear::unknown);
    EXPECT_EQ(caseAt<TransmissionGear>(99), TransmissionGear::unknown);
    // Enumerations with a fixed default offer no setter.
    static_assert(!HasSettableDefault<FuelType>);
    static_assert(!HasSettableDefault<LoopStatus>);
    static_assert(HasSettableDefault<AirStatus>);
    static_assert(HasSettableDefault<SCRInducementState>);
}

}  // namespace
}  // namespace qz
