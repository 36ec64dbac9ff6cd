#pragma once

#include <memory>
#include <mutex>

#include "lib/Facades/QZEAdapters.hpp"

namespace qz {

// The engine's view of the stored settings, the session and VIN lookups.
class QZEData {
  public:
    static QZEData& sharedData();

    void registerQZDataAdapter(std::shared_ptr<QZDataAdapter> adapter);
    void registerSessionAdapter(std::shared_ptr<QZESessionProtocol> adapter);
    void registerVinAdapter(std::shared_ptr<QZVINDataAdapter> adapter);

    // Data adapter; without one: none, 0, false, nothing, "Unknown".
    void setEnhancedProtocol(const OptionalText& value);
    OptionalText EnhancedProtocol();
    OptionalText VIN();
    void setVehicleParentMan(const OptionalText& value);
    OptionalText vehicleParentMan();
    int64_t sensorVersionNumber();
    int64_t obd2Protocol();
    bool useNewCommandSet();
    OptionalText customVehicleMan();

    // VIN adapter; none without one.
    OptionalText manufacturerNameFromVin(const OptionalText& vin);

    // Session adapter; without one: error log, 0 / none.
    int64_t activeProtocol();
    OptionalText activeVin();
    // Session adapter; 0 without one (no log).
    int64_t sensorVersionGuess();

  private:
    QZEData() = default;
    std::shared_ptr<QZDataAdapter> dataAdapter();
    std::shared_ptr<QZESessionProtocol> sessionAdapter();
    std::shared_ptr<QZVINDataAdapter> vinAdapter();

    std::mutex mutex_;
    std::shared_ptr<QZDataAdapter> m_qzDataAdapter;
    std::shared_ptr<QZESessionProtocol> m_sessionAdapter;
    std::shared_ptr<QZVINDataAdapter> m_vinAdapter;
};

}  // namespace qz
