#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "api/PIDs/Enums/PIDEnum.hpp"

// The value enumerations of the coded Mode 1 fields. Each lists its cases in order (order 0 is the
// unknown case), with one display text per case, its index rule and its default.
namespace qz {

// Secondary air status.
enum class AirStatus : uint8_t {
    unknown,
    upstream,
    downstream,
    atmosphere,
    diagnostic,
};

template <>
struct PIDEnumTable<AirStatus> {
    static constexpr std::array<std::string_view, 5> texts{
        "Unknown",
        "Upstream of first catalytic converter",
        "Downstream of first catalytic converter",
        "Atmosphere / Off",
        "Pump commanded on for diagnostics",
    };
    static constexpr AirStatus initialDefault = AirStatus::unknown;
    static constexpr bool settable = true;
    static constexpr int orderFor(int64_t index) { return plainOrder(index, texts.size()); }
};

// Automatic transmission neutral/drive status.
enum class AutoNeuralDriveStatus : uint8_t {
    unknown,
    neutral,
    drive,
};

template <>
struct PIDEnumTable<AutoNeuralDriveStatus> {
    static constexpr std::array<std::string_view, 3> texts{
        "Unknown",
        "Auto Trans in Park/Neutral",
        "Auto Trans in Drive",
    };
    static constexpr AutoNeuralDriveStatus initialDefault = AutoNeuralDriveStatus::unknown;
    static constexpr bool settable = false;
    static constexpr int orderFor(int64_t index) { return plainOrder(index, texts.size()); }
};

// NTE control area status.
enum class ControlAreaStatus : uint8_t {
    unknown,
    inside,
    outside,
    manufacturer,
    deficiency,
};

template <>
struct PIDEnumTable<ControlAreaStatus> {
    static constexpr std::array<std::string_view, 5> texts{
        "Unknown",
        "Inside Control Area",
        "Outside Control Area",
        "Inside Manufacturer-Specific NTE Carve-Out Area",
        "NTE Deficiency for Active Area",
    };
    static constexpr ControlAreaStatus initialDefault = ControlAreaStatus::unknown;
    static constexpr bool settable = false;
    static constexpr int orderFor(int64_t index) { return plainOrder(index, texts.size()); }
};

// Diesel exhaust fluid dosing mode.
enum class DEFDosingMode : uint8_t {
    unknown,
    off,
    manufacturer,
};

template <>
struct PIDEnumTable<DEFDosingMode> {
    static constexpr std::array<std::string_view, 3> texts{
        "Unknown",
        "Dosing System Off",
        "Manufacturer Specific",
    };
    static constexpr DEFDosingMode initialDefault = DEFDosingMode::unknown;
    static constexpr bool settable = true;
    static constexpr int orderFor(int64_t index) {
        return index == -1 ? 0 : index == 0 ? 1 : index >= 1 ? 2 : -1;
    }
};

// Diesel exhaust fluid type and quality.
enum class DEFType : uint8_t {
    unknown,
    high,
    low,
    proper,
    unavailable,
    fault,
};

template <>
struct PIDEnumTable<DEFType> {
    static constexpr std::array<std::string_view, 6> texts{
        "Unknown",
        "Urea concentration too high",
        "Urea concentration too low",
        "DEF is proper mixture",
        "No concentration sensor fault, no results available / Not able to determine diesel "
        "exhaust fluid property (fluid type unknown)",
        "Concentration sensor fault, no results available / Error with diesel exhaust fluid "
        "propert detection",
    };
    static constexpr DEFType initialDefault = DEFType::unknown;
    static constexpr bool settable = true;
    static constexpr int orderFor(int64_t index) {
        if (index == 13) return 4;
        if (index == 14) return 5;
        return index <= 4 ? plainOrder(index, texts.size()) : -1;
    }
};

// Malfunction indicator display strategy.
enum class DiscriminatoryDisplayStrategy : uint8_t {
    unknown,
    nonDiscriminatory,
    discriminatory,
    reserved,
    notAvailable,
};

template <>
struct PIDEnumTable<DiscriminatoryDisplayStrategy> {
    static constexpr std::array<std::string_view, 5> texts{
        "Unknown",
        "All ECUs employ a non-discriminatory MI display strategy",
        "ALL ECUs employ a discriminatory MI display strategy",
        "Reserved",
        "Not available / Not required of this vehicle",
    };
    static constexpr DiscriminatoryDisplayStrategy initialDefault =
        DiscriminatoryDisplayStrategy::unknown;
    static constexpr bool settable = true;
    static constexpr int orderFor(int64_t index) { return plainOrder(index, texts.size()); }
};

// Emission requirements the vehicle is designed to.
enum class EmissionRequirements : uint8_t {
    unknown,
    reserved,
    euroIVB1,
    euroVB2,
    euroC,
    euroVI,
};

template <>
struct PIDEnumTable<EmissionRequirements> {
    static constexpr std::array<std::string_view, 6> texts{
        "Unknown",
        "ISO/SAE Reserved",
        "Heavy Duty Vehicles (EURO IV) B1",
        "Heavy Duty Vehicles (Euro V) B2",
        "Heavy Duty Vehicles (Euro EEV) C",
        "Heavy Duty Vehicles (Euro VI)",
    };
    static constexpr EmissionRequirements initialDefault = EmissionRequirements::unknown;
    static constexpr bool settable = false;
    static constexpr int orderFor(int64_t index) {
        return (index >= 14 && index <= 17) ? static_cast<int>(index - 12) : 1;
    }
};

// Readiness of all emissions monitors.
enum class EmissionsSystemReadiness : uint8_t {
    unknown,
    complete,
    incomplete,
};

template <>
struct PIDEnumTable<EmissionsSystemReadiness> {
    static constexpr std::array<std::string_view, 3> texts{
        "Unknown",
        "All vehicle emissions system monitors complete",
        "All vehicle emissions system monitors not complete",
    };
    static constexpr EmissionsSystemReadiness initialDefault = EmissionsSystemReadiness::unknown;
    static constexpr bool settable = true;
    static constexpr int orderFor(int64_t index) { return plainOrder(index, texts.size()); }
};

// Hybrid vehicle charging mode.
enum class EVChargingState : uint8_t {
    unknown,
    sustaining,
    depleting,
    increasing,
    notPsa,
};

template <>
struct PIDEnumTable<EVChargingState> {
    static constexpr std::array<std::string_view, 5> texts{
        "Unknown",
        "Charge Sustaining Mode / Not a PHEV",
        "Charge Depleting Mode",
        "Charge Increasing Mode",
        "Not PSA",
    };
    static constexpr EVChargingState initialDefault = EVChargingState::unknown;
    static constexpr bool settable = true;
    static constexpr int orderFor(int64_t index) { return plainOrder(index, texts.size()); }
};

// Fuel system loop status.
enum class FuelSystemStatus : uint8_t {
    Unknown,
    OL,
    CL,
    OLDrive,
    OLFault,
    CLFault,
    OLB2,
    OLDriveB2,
    OLFaultB2,
};

template <>
struct PIDEnumTable<FuelSystemStatus> {
    static constexpr std::array<std::string_view, 9> texts{
        "Unknown",
        "Open loop - has not yet satisfied conditions to go closed loop (Bank 1 or both)",
        "Closed loop = Using oxygen sensor(s) as feedback for fuel control",
        "Open loop due to driving conditions (Bank 1 or both)(e.g. power enrichment, deceleration "
        "enleanment, cylinder deactication)",
        "Open loop - due to detected system fault (Bank 1 or both)",
        "Closed loop, but fault with at least one oxygen sensor - may be using single oxygen "
        "sensor for fuel control (Bank 1 or Bank 2)",
        "Open loop - has not yet satisfied conditions to go closed loop (Bank 2)",
        "Open loop due to driving conditions (Bank 2)(e.g. power enrichment, deceleration "
        "enleanment, cylinder deactication",
        "Closed loop, but fault with at least one oxygen sensor - may be using single oxygen "
        "sensor for fuel control (Bank 2)",
    };
    static constexpr FuelSystemStatus initialDefault = FuelSystemStatus::Unknown;
    static constexpr bool settable = false;
    static constexpr int orderFor(int64_t index) { return plainOrder(index, texts.size()); }
};

// Type of fuel currently used.
enum class FuelType : uint8_t {
    unknown,
    notAvailable,
    gas,
    methanol,
    ethanol,
    disel,
    lpg,
    cng,
    propane,
    electric,
    biGas,
    biMeth,
    biEth,
    biLPG,
    biCNG,
    biProp,
    biElec,
    biMix,
    hybGas,
    hybEth,
    hybDsl,
    hybElec,
    hybMix,
    hybReg,
    biDsl,
    ng,
    biNg,
    dslCng,
    dslLNG,
    fcH2,
    hice,
    kerosene,
};

template <>
struct PIDEnumTable<FuelType> {
    static constexpr std::array<std::string_view, 32> texts{
        "Unknown",
        "Not Available",
        "Gasoline/Petrol",
        "Methanol",
        "Ethanol",
        "Diesel",
        "Liquefied Petroleum Gas",
        "Compressed Natural Gas",
        "Propane",
        "Battery/Electric",
        "Bi-Fuel Vehicle Using Gasoline",
        "Bi-Fuel Vehicle Using Methanol",
        "Bi-Fuel Vehicle Using Ethanol",
        "Bi-Fuel Vehicle Using LPG",
        "Bi-Fuel Vehicle Using CNG",
        "Bi-Fuel Vehicle Using Propane",
        "Bi-Fuel Vehicle Using Battery",
        "Bi-Fuel Vehicle Using Battery and Combustion Engine",
        "Hybrid Vehicle Using Gasoline Engine",
        "Hybrid Vehicle Using Ethanol Engine",
        "Hybrid Vehicle Using Diesel Engine",
        "Hybrid Vehicle Using Battery",
        "Hybrid Vehicle Using Battery and Combustion Engine",
        "Hybrid Vehicle in Regeneration Mode",
        "Bi-Fuel Vehicle Using Diesel",
        "Natural Gas",
        "Bi-Fuel Vehicle Using Natural Gas",
        "Dual Fuel - Diesel and CNG",
        "Dual Fuel - Diesel and LNG",
        "Fuel Cell Utilizing Hydrogen",
        "Hydrogen Internal Combustion Engine",
        "Kerosene",
    };
    static constexpr FuelType initialDefault = FuelType::unknown;
    static constexpr bool settable = false;
    static constexpr int orderFor(int64_t index) {
        if (index == 24) return 26;
        if (index == 25) return 24;
        if (index == 26) return 25;
        if (index >= 27 && index <= 31) return static_cast<int>(index);
        if (index >= 32) return 0;
        return plainOrder(index, 25);
    }
};

// Inducement level status.
enum class InducementStatus : uint8_t {
    unknown,
    inactive,
    enabled,
    active,
    unsupported,
};

template <>
struct PIDEnumTable<InducementStatus> {
    static constexpr std::array<std::string_view, 5> texts{
        "Unknown",           "Inducement inactive", "Inducement enabled",
        "Inducement Active", "Not supported",
    };
    static constexpr InducementStatus initialDefault = InducementStatus::unknown;
    static constexpr bool settable = true;
    static constexpr int orderFor(int64_t index) { return plainOrder(index, texts.size()); }
};

// Boost pressure and variable geometry turbo control status.
enum class LoopStatus : uint8_t {
    unknown,
    reserved,
    open,
    closed,
    fault,
};

template <>
struct PIDEnumTable<LoopStatus> {
    static constexpr std::array<std::string_view, 5> texts{
        "Unknown",
        "Reserved, not defined",
        "Open Loop (No Fault Present)",
        "Closed Loop (No Fault Present)",
        "Fault Present Boost Data Unreliable",
    };
    static constexpr LoopStatus initialDefault = LoopStatus::unknown;
    static constexpr bool settable = false;
    static constexpr int orderFor(int64_t index) { return plainOrder(index, texts.size()); }
};

// Manual transmission neutral/gear status.
enum class ManualTransNeutralGearStatus : uint8_t {
    unknown,
    neutral,
    gear,
};

template <>
struct PIDEnumTable<ManualTransNeutralGearStatus> {
    static constexpr std::array<std::string_view, 3> texts{
        "Unknown",
        "Manual Trans in Neutral",
        "Manual Trans in Gear",
    };
    static constexpr ManualTransNeutralGearStatus initialDefault =
        ManualTransNeutralGearStatus::unknown;
    static constexpr bool settable = false;
    static constexpr int orderFor(int64_t index) { return plainOrder(index, texts.size()); }
};

// Malfunction indicator activation mode.
enum class MIActivationMode : uint8_t {
    unknown,
    mode1,
    mode2,
    mode3,
    mode4,
    reserved,
    error,
    notAvailable,
};

template <>
struct PIDEnumTable<MIActivationMode> {
    static constexpr std::array<std::string_view, 8> texts{
        "Unknown",
        "MI Activation Mode 1 (MI Off)",
        "MI Activation Mode 2 (On Demand Off)",
        "MI Activation Mode 3(Short MI)",
        "MI Activation Mode 4 (Continuous MI)",
        "Reserved",
        "Error",
        "Not available / Not required of this vehicle",
    };
    static constexpr MIActivationMode initialDefault = MIActivationMode::unknown;
    static constexpr bool settable = true;
    static constexpr int orderFor(int64_t index) {
        if (index >= 4 && index <= 13) return 5;
        if (index == 14) return 6;
        if (index == 15) return 7;
        return index <= 3 ? plainOrder(index, texts.size()) : -1;
    }
};

// OBD requirements of the vehicle or engine.
enum class OBDRequirements : uint8_t {
    unknown,
    obdII,
    obd,
    obdAndObdII,
    obdI,
    noObd,
    eobd,
    eobdAndObdII,
    eobdAndObd,
    eobdObdAndObdII,
    jobd,
    jobdAndObdII,
    jobdAndEobd,
    jobdEobdAndObdII,
    obdEobdAndKobd,
    obdObdIIEobdKobd,
    reserved,
    emd,
    emdPlus,
    hdObdC,
    hdObd,
    wwhObd,
    hdEobdI,
    hdEobdIN,
    hdEobdII,
    hdEobdIIN,
    obdBr1,
    obdBr2,
    kobd,
    iobdI,
    iobdII,
    hdEobdVI,
    obdObdIIHdObd,
    obdBr3,
    mcEobdI,
    mcEObdII,
    mcCobdI,
    mcTobdI,
    mcJobdI,
    cnObd6,
    obdBrD,
    cnHdObdVI,
    notAvailable,
};

template <>
struct PIDEnumTable<OBDRequirements> {
    static constexpr std::array<std::string_view, 43> texts{
        "Unknown",
        "OBD II",
        "OBD",
        "OBD and OBD II",
        "OBD I",
        "Not OBD compliant",
        "EOBD",
        "EOBD and OBD II",
        "EOBD and OBD",
        "EOBD, OBD and OBD II",
        "JOBD",
        "JOBD and OBD II",
        "JOBD and EOBD",
        "JOBD, EOBD and OBD II",
        "OBD, EOBD, and KOBD",
        "OBD, OBD II, EOBD and KOBD",
        "SAE/ISO Reserved",
        "Engine Manufacturer Diagnostics (EMD)",
        "Engine Manufacturer Diagnostics Enhanced (EMD+)",
        "Heavy Duty On-Board Diagnostics (Child/Partial)",
        "Heavy Duty On-Board Diagnostics",
        "World Wide Harmonized OBD",
        "Heavy Duty Euro OBD Stage I without NOx Control",
        "Heavy Duty Euro OBD Stage I with NOx Control",
        "Heavy Duty Euro OBD Stage II without NOx Control",
        "Heavy Duty Euro OBD Stage II with NOx Control",
        "Brazil OBD Phase 1",
        "Brazil OBD Phase 2",
        "Korean OBD",
        "India OBD I",
        "India OBD II",
        "Euro VI",
        "OBD, OBD II, and HD OBD",
        "Brazil OBD Phase 3",
        "Motorcycle, Euro OBD-I",
        "Motorcycle, Euro OBD-II",
        "Motorcycle, China OBD-I",
        "Motorcycle, Taiwan OBD-I",
        "Motorcycle, Japan OBD-I",
        "China Nationwide Stage 6",
        "Brazil OBD Diesel",
        "China Heavy Duty VI",
        "SAE/ISO - Not available for assignment",
    };
    static constexpr OBDRequirements initialDefault = OBDRequirements::unknown;
    static constexpr bool settable = false;
    static constexpr int orderFor(int64_t index) {
        if (index == 22 || index == 27 || (index >= 44 && index <= 250)) return 16;
        if (index >= 0 && index <= 21) return static_cast<int>(index);
        if (index >= 23 && index <= 26) return static_cast<int>(index - 1);
        if (index >= 28 && index <= 43) return static_cast<int>(index - 2);
        if (index >= 251) return 42;
        return -1;
    }
};

// Particulate filter regeneration type.
enum class RegenType : uint8_t {
    unknown,
    passive,
    active,
};

template <>
struct PIDEnumTable<RegenType> {
    static constexpr std::array<std::string_view, 3> texts{
        "Unknown",
        "Passive",
        "Active",
    };
    static constexpr RegenType initialDefault = RegenType::unknown;
    static constexpr bool settable = true;
    static constexpr int orderFor(int64_t index) { return plainOrder(index, texts.size()); }
};

// SCR inducement system state.
enum class SCRInducementState : uint8_t {
    unknown,
    inactive,
    low,
    incorrect,
    deviation,
    high,
};

template <>
struct PIDEnumTable<SCRInducementState> {
    static constexpr std::array<std::string_view, 6> texts{
        "Unknown",
        "Inactive",
        "Reagent level too low",
        "Incorrect reagent",
        "Deviation of reagent consumption",
        "NOx emissions too high",
    };
    static constexpr SCRInducementState initialDefault = SCRInducementState::inactive;
    static constexpr bool settable = true;
    static constexpr int orderFor(int64_t index) {
        return (index >= -2 && index <= 3) ? static_cast<int>(index + 2) : -1;
    }
};

// Fuel injection control loop status.
enum class SimpleLoopStatus : uint8_t {
    unknown,
    open,
    closed,
};

template <>
struct PIDEnumTable<SimpleLoopStatus> {
    static constexpr std::array<std::string_view, 3> texts{
        "Unknown",
        "Open Loop",
        "Closed Loop",
    };
    static constexpr SimpleLoopStatus initialDefault = SimpleLoopStatus::unknown;
    static constexpr bool settable = true;
    static constexpr int orderFor(int64_t index) { return plainOrder(index, texts.size()); }
};

// Transmission gear.
enum class TransmissionGear : uint8_t {
    unknown,
    neutral,
    gear1,
    gear2,
    gear3,
    gear4,
    gear5,
    gear6,
    gear7,
    gear8,
    gear9,
    gear10,
    gear11,
    gear12,
    gear13,
    gear14,
    gear15,
};

template <>
struct PIDEnumTable<TransmissionGear> {
    static constexpr std::array<std::string_view, 17> texts{
        "Unknown", "Neutral", "Gear 1/Reverse", "Gear 2",  "Gear 3",  "Gear 4",
        "Gear 5",  "Gear 6",  "Gear 7",         "Gear 8",  "Gear 9",  "Gear 10",
        "Gear 11", "Gear 12", "Gear 13",        "Gear 14", "Gear 15",
    };
    static constexpr TransmissionGear initialDefault = TransmissionGear::unknown;
    static constexpr bool settable = true;
    static constexpr int orderFor(int64_t index) { return plainOrder(index, texts.size()); }
};

// Every enumeration has display texts and an index rule.
static_assert(PIDEnum<AirStatus>);
static_assert(PIDEnum<AutoNeuralDriveStatus>);
static_assert(PIDEnum<ControlAreaStatus>);
static_assert(PIDEnum<DEFDosingMode>);
static_assert(PIDEnum<DEFType>);
static_assert(PIDEnum<DiscriminatoryDisplayStrategy>);
static_assert(PIDEnum<EmissionRequirements>);
static_assert(PIDEnum<EmissionsSystemReadiness>);
static_assert(PIDEnum<EVChargingState>);
static_assert(PIDEnum<FuelSystemStatus>);
static_assert(PIDEnum<FuelType>);
static_assert(PIDEnum<InducementStatus>);
static_assert(PIDEnum<LoopStatus>);
static_assert(PIDEnum<ManualTransNeutralGearStatus>);
static_assert(PIDEnum<MIActivationMode>);
static_assert(PIDEnum<OBDRequirements>);
static_assert(PIDEnum<RegenType>);
static_assert(PIDEnum<SCRInducementState>);
static_assert(PIDEnum<SimpleLoopStatus>);
static_assert(PIDEnum<TransmissionGear>);
}  // namespace qz
