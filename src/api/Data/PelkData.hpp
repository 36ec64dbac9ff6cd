#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "api/Communication/BusProtocol.hpp"
#include "lib/Facades/QZEAdapters.hpp"
#include "platform/UserDefaults.hpp"

namespace qz {

// The persistent store of sensor and vehicle facts, shared by the facade layer (typed setters)
// and the engine (its data and VIN adapters). Every read goes to the suite, which the process
// keeps, and every write is stored at once (the suite writes its file atomically); a value whose
// write failed still reads back, and the next change writes it again.
class PelkData : public QZDataAdapter, public QZVINDataAdapter {
  public:
    static constexpr const char* kSuiteName = "com.ostrel.qzenhanced.pelkdata";

    // Keys of the suite.
    static constexpr const char* kInRecoveryKey = "inRecovery";
    static constexpr const char* kActiveSensorVersionKey = "activeSensorVersion";
    static constexpr const char* kObd2ProtocolKey = "obd2Protocol";
    static constexpr const char* kEnhancedProtocolKey = "enhancedProtocol";
    static constexpr const char* kVehicleParentManKey = "vehicleParentMan";
    static constexpr const char* kVinKey = "vin";
    static constexpr const char* kCustomVehicleManKey = "customVehicleMan";
    // The firmware version × 100 each sensor last told, by the sensor's identifier.
    static constexpr const char* kSensorVersionsKey = "sensorVersions";

    static std::shared_ptr<PelkData> shared();

    explicit PelkData(std::string suiteName = kSuiteName);

    // The suite; null when it cannot be opened (setters then do nothing, getters answer their
    // defaults). Opened for the current preferences folder on each use.
    std::shared_ptr<UserDefaults> prefs() const;

    // Facade-layer setters.
    void setInRecoveryMode(bool inRecovery);
    // None: the version is not known (read as 0, which no firmware is).
    void setActiveSensorVersion(std::optional<int64_t> versionTimes100);
    // The version × 100 the sensor of that identifier last told, if any.
    std::optional<int64_t> sensorVersionOf(const std::string& sensor) const;
    void setSensorVersionOf(const std::string& sensor, int64_t versionTimes100);
    void setActiveBusProtocol(BusProtocol bus);
    void setActiveParentMan(const std::optional<std::string>& parent);
    void setEnhancedProtocolString(const std::optional<std::string>& value);

    // QZDataAdapter
    void setEnhancedProtocol(const OptionalText& value) override;
    OptionalText EnhancedProtocol() override;
    OptionalText VIN() override;
    void setVehicleParentMan(const OptionalText& value) override;
    OptionalText vehicleParentMan() override;
    // 0 when not known.
    int64_t sensorVersionNumber() override;
    // The stored bus number when it is a known bus, else 0.
    int64_t obd2Protocol() override;
    // Always true: the engine sends the "KQ" form of its set-up commands.
    bool useNewCommandSet() override { return true; }
    OptionalText customVehicleMan() override;

    // QZVINDataAdapter
    OptionalText manufacturerNameFromVin(const OptionalText& vin) override;

  private:
    void store(const char* key, const std::optional<nlohmann::json>& value);
    OptionalText text(const char* key) const;

    std::string m_suiteName;
};

}  // namespace qz
