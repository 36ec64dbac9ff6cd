#include "api/Data/PelkData.hpp"

#include "api/Logging/Log.hpp"
#include "api/VIN/VIN.hpp"

namespace qz {

std::shared_ptr<PelkData> PelkData::shared() {
    // Leaked: work on the gateway's and the driver's queues may still read it at exit.
    static const auto* instance = new std::shared_ptr<PelkData>(std::make_shared<PelkData>());
    return *instance;
}

PelkData::PelkData(std::string suiteName) : m_suiteName(std::move(suiteName)) {}

std::shared_ptr<UserDefaults> PelkData::prefs() const {
    auto suite = UserDefaults::suite(m_suiteName);
    if (suite) {
        if (auto problem = suite->takeLoadProblem())
            Log::e("Settings file " + suite->filePath().string() + " not read (" + *problem +
                   "), starting from defaults");
    }
    return suite;
}

void PelkData::store(const char* key, const std::optional<nlohmann::json>& value) {
    auto suite = prefs();
    if (!suite) return;
    if (value) {
        suite->set(key, *value);
    } else {
        suite->removeObject(key);
    }
    if (!suite->lastWriteSucceeded())
        Log::e("Settings file " + suite->filePath().string() +
               " not written, the values stay in memory until the next change");
}

OptionalText PelkData::text(const char* key) const {
    auto suite = prefs();
    if (!suite) return std::nullopt;
    return suite->string(key);
}

void PelkData::setInRecoveryMode(bool inRecovery) {
    store(kInRecoveryKey, inRecovery);
}

void PelkData::setActiveSensorVersion(std::optional<int64_t> versionTimes100) {
    store(kActiveSensorVersionKey,
          versionTimes100 ? std::optional<nlohmann::json>(*versionTimes100) : std::nullopt);
}

std::optional<int64_t> PelkData::sensorVersionOf(const std::string& sensor) const {
    auto suite = prefs();
    if (!suite) return std::nullopt;
    const auto versions = suite->object(kSensorVersionsKey);
    if (!versions || !versions->is_object()) return std::nullopt;
    const auto found = versions->find(sensor);
    if (found == versions->end() || !found->is_number_integer()) return std::nullopt;
    const auto version = found->get<int64_t>();
    return version > 0 ? std::optional<int64_t>(version) : std::nullopt;
}

void PelkData::setSensorVersionOf(const std::string& sensor, int64_t versionTimes100) {
    auto suite = prefs();
    if (!suite) return;
    auto versions = suite->object(kSensorVersionsKey).value_or(nlohmann::json::object());
    if (!versions.is_object()) versions = nlohmann::json::object();
    versions[sensor] = versionTimes100;
    store(kSensorVersionsKey, versions);
}

void PelkData::setActiveBusProtocol(BusProtocol bus) {
    store(kObd2ProtocolKey, rawValue(bus));
}

void PelkData::setActiveParentMan(const std::optional<std::string>& parent) {
    setVehicleParentMan(parent);
}

void PelkData::setEnhancedProtocolString(const std::optional<std::string>& value) {
    setEnhancedProtocol(value);
}

void PelkData::setEnhancedProtocol(const OptionalText& value) {
    store(kEnhancedProtocolKey, value ? std::optional<nlohmann::json>(*value) : std::nullopt);
}

OptionalText PelkData::EnhancedProtocol() {
    return text(kEnhancedProtocolKey);
}

OptionalText PelkData::VIN() {
    return text(kVinKey);
}

void PelkData::setVehicleParentMan(const OptionalText& value) {
    store(kVehicleParentManKey, value ? std::optional<nlohmann::json>(*value) : std::nullopt);
}

OptionalText PelkData::vehicleParentMan() {
    return text(kVehicleParentManKey);
}

int64_t PelkData::sensorVersionNumber() {
    auto suite = prefs();
    return suite ? suite->integer(kActiveSensorVersionKey) : 0;
}

int64_t PelkData::obd2Protocol() {
    auto suite = prefs();
    if (!suite) return 0;
    auto bus = busProtocolFromRawValue(suite->integer(kObd2ProtocolKey));
    return bus ? rawValue(*bus) : 0;
}

OptionalText PelkData::customVehicleMan() {
    return text(kCustomVehicleManKey);
}

OptionalText PelkData::manufacturerNameFromVin(const OptionalText& vin) {
    return qz::VIN::manufacturerName(vin);
}

}  // namespace qz
