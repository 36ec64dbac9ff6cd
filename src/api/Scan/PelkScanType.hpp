#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qz {

// The kinds of scan. The raw value is what analytics and the demo call it.
enum class PelkScanType {
    cel,  // "cel": the generic OBD-II codes only
    cdl,  // "com": quick scan of the manufacturer modules, then the generic codes
    all,  // "all": full scan of the manufacturer modules, then the generic codes
};

// The raw value ("cel", "com", "all").
std::string rawValue(PelkScanType type);
// Exactly "cel", "com" or "all" (case-sensitive); none for any other text.
std::optional<PelkScanType> pelkScanType(std::string_view rawValue);
// The case name ("cel", "cdl", "all").
std::string describe(PelkScanType type);

// The warning-light category of a module (its raw values: "4X4", "ABS", "ADAPTIVE CRUISE",
// ... "ENGINE"; `unknown` for a light the library does not know).
enum class PelkLightCategory {
    fourX4,
    abs,
    adaptiveCruise,
    airbag,
    blindSpotMonitor,
    collisionAvoidance,
    electrical,
    laneKeepAssist,
    maintenance,
    powerSteering,
    rearParkingAid,
    securityTheftSystem,
    suspension,
    tirePressure,
    tractionControl,
    transmission,
    engine,
    unknown,
};

// The category of a module (its raw values: "4WD/AWD", "ABS AND BRAKES", ...; `unknown` for a
// category the library does not know).
enum class PelkModuleCategory {
    fourWDAWD,
    absAndBrakes,
    airbagsAndRestraints,
    batteryAndPower,
    doorsAndWindows,
    driveInformationAndControl,
    driverAssistAndActiveSafety,
    engine,
    entertainmentAndNavigation,
    heatAndAirConditioning,
    hybridAndEV,
    lights,
    network,
    premiumVehicleOptions,
    seatsAndMirrors,
    securityAndKeylessEntry,
    tirePressure,
    trailerAndAuxiliaryEquipment,
    transmissionAndDrivetrain,
    vehicleControlAndSuspension,
    unknown,
};

// Raw values ("4X4", "ABS AND BRAKES", ...) and case names ("fourX4", "absAndBrakes", ...).
std::string rawValue(PelkLightCategory category);
std::string rawValue(PelkModuleCategory category);
std::string describe(PelkLightCategory category);
std::string describe(PelkModuleCategory category);
// The case whose raw value is exactly the text; none for any other text.
std::optional<PelkLightCategory> pelkLightCategory(std::string_view rawValue);
std::optional<PelkModuleCategory> pelkModuleCategory(std::string_view rawValue);

}  // namespace qz
