#include "api/Scan/PelkScanType.hpp"

#include <array>

namespace qz {

namespace {

template <class E>
struct Row {
    E value;
    const char* caseName;
    const char* raw;
};

constexpr std::array<Row<PelkScanType>, 3> kScanTypes{{
    {PelkScanType::cel, "cel", "cel"},
    {PelkScanType::cdl, "cdl", "com"},
    {PelkScanType::all, "all", "all"},
}};

using Light = PelkLightCategory;
constexpr std::array<Row<Light>, 18> kLights{{
    {Light::fourX4, "fourX4", "4X4"},
    {Light::abs, "abs", "ABS"},
    {Light::adaptiveCruise, "adaptiveCruise", "ADAPTIVE CRUISE"},
    {Light::airbag, "airbag", "AIRBAG"},
    {Light::blindSpotMonitor, "blindSpotMonitor", "BLIND SPOT MONITOR"},
    {Light::collisionAvoidance, "collisionAvoidance", "COLLISION AVOIDANCE"},
    {Light::electrical, "electrical", "ELECTRICAL"},
    {Light::laneKeepAssist, "laneKeepAssist", "LANE KEEP ASSIST"},
    {Light::maintenance, "maintenance", "MAINTENANCE"},
    {Light::powerSteering, "powerSteering", "POWER STEERING"},
    {Light::rearParkingAid, "rearParkingAid", "REAR PARKING AID"},
    {Light::securityTheftSystem, "securityTheftSystem", "SECURITY THEFT SYSTEM"},
    {Light::suspension, "suspension", "SUSPENSION"},
    {Light::tirePressure, "tirePressure", "TIRE PRESSURE"},
    {Light::tractionControl, "tractionControl", "TRACTION CONTROL"},
    {Light::transmission, "transmission", "TRANSMISSION"},
    {Light::engine, "engine", "ENGINE"},
    {Light::unknown, "unknown", "UNKNOWN"},
}};

using Category = PelkModuleCategory;
constexpr std::array<Row<Category>, 21> kCategories{{
    {Category::fourWDAWD, "fourWDAWD", "4WD/AWD"},
    {Category::absAndBrakes, "absAndBrakes", "ABS AND BRAKES"},
    {Category::airbagsAndRestraints, "airbagsAndRestraints", "AIRBAGS AND RESTRAINTS"},
    {Category::batteryAndPower, "batteryAndPower", "BATTERY AND POWER"},
    {Category::doorsAndWindows, "doorsAndWindows", "DOORS AND WINDOWS"},
    {Category::driveInformationAndControl, "driveInformationAndControl",
     "DRIVE INFORMATION AND CONTROL"},
    {Category::driverAssistAndActiveSafety, "driverAssistAndActiveSafety",
     "DRIVER ASSIST AND ACTIVE SAFETY"},
    {Category::engine, "engine", "ENGINE"},
    {Category::entertainmentAndNavigation, "entertainmentAndNavigation",
     "ENTERTAINMENT AND NAVIGATION"},
    {Category::heatAndAirConditioning, "heatAndAirConditioning", "HEAT AND AIR CONDITIONING"},
    {Category::hybridAndEV, "hybridAndEV", "HYBRID AND EV"},
    {Category::lights, "lights", "LIGHTS"},
    {Category::network, "network", "NETWORK"},
    {Category::premiumVehicleOptions, "premiumVehicleOptions", "PREMIUM VEHICLE OPTIONS"},
    {Category::seatsAndMirrors, "seatsAndMirrors", "SEATS AND MIRRORS"},
    {Category::securityAndKeylessEntry, "securityAndKeylessEntry", "SECURITY AND KEYLESS ENTRY"},
    {Category::tirePressure, "tirePressure", "TIRE PRESSURE"},
    {Category::trailerAndAuxiliaryEquipment, "trailerAndAuxiliaryEquipment",
     "TRAILER AND AUXILIARY EQUIPMENT"},
    {Category::transmissionAndDrivetrain, "transmissionAndDrivetrain",
     "TRANSMISSION AND DRIVETRAIN"},
    {Category::vehicleControlAndSuspension, "vehicleControlAndSuspension",
     "VEHICLE CONTROL AND SUSPENSION"},
    {Category::unknown, "unknown", "UNKNOWN"},
}};

template <class E, size_t N>
const Row<E>* rowOf(const std::array<Row<E>, N>& table, E value) {
    for (const auto& row : table)
        if (row.value == value) return &row;
    return nullptr;
}

template <class E, size_t N>
std::optional<E> byRaw(const std::array<Row<E>, N>& table, std::string_view raw) {
    for (const auto& row : table)
        if (raw == row.raw) return row.value;
    return std::nullopt;
}

template <class E, size_t N>
std::string raw(const std::array<Row<E>, N>& table, E value) {
    auto row = rowOf(table, value);
    return row ? row->raw : "";
}

template <class E, size_t N>
std::string caseName(const std::array<Row<E>, N>& table, E value) {
    auto row = rowOf(table, value);
    return row ? row->caseName : "";
}

}  // namespace

std::string rawValue(PelkScanType type) {
    return raw(kScanTypes, type);
}

std::optional<PelkScanType> pelkScanType(std::string_view rawValue) {
    return byRaw(kScanTypes, rawValue);
}

std::string describe(PelkScanType type) {
    return caseName(kScanTypes, type);
}

std::string rawValue(PelkLightCategory category) {
    return raw(kLights, category);
}

std::string rawValue(PelkModuleCategory category) {
    return raw(kCategories, category);
}

std::string describe(PelkLightCategory category) {
    return caseName(kLights, category);
}

std::string describe(PelkModuleCategory category) {
    return caseName(kCategories, category);
}

std::optional<PelkLightCategory> pelkLightCategory(std::string_view rawValue) {
    return byRaw(kLights, rawValue);
}

std::optional<PelkModuleCategory> pelkModuleCategory(std::string_view rawValue) {
    return byRaw(kCategories, rawValue);
}

}  // namespace qz
