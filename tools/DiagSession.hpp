#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace qz {
class Gateway;
namespace sim {
class SimulatedAccessory;
class SimulatedBGX13;
class SimulatedBluetooth;
}  // namespace sim
}  // namespace qz

namespace qz::tools {

class EngineNotes;

// What `qzdiag info` reports.
struct InfoReport {
    std::optional<std::string> sensorName;
    std::optional<std::string> sensorIdentifier;
    std::string sensorType;
    std::string stateText = "no answer";
    bool initialized = false;
    bool recovery = false;  // the sensor is in firmware recovery mode
    float sensorVersion = 0;
    std::string bus = "UNKNOWN";
    std::string libraryVersion;
    bool disconnected = false;
    std::string error;

    bool ok() const { return initialized && error.empty(); }
};

// How the demo reaches the simulated sensor.
enum class Transport { mfi, ble };

// One run of the demo: the simulated sensor plugged in as an MFi accessory, or in reach as a
// BGX13 Bluetooth LE module, and a gateway that reaches it through the matching session, as
// the host app would.
class DiagSession {
  public:
    // Seconds the demo waits for each answer of the library.
    static constexpr double kAnswerTimeout = 30.0;

    // `profile`: a vehicle profile file; none for the built-in one. Throws when the
    // profile cannot be read (a folder included). Over BLE, waits (at most kAnswerTimeout) until
    // the gateway has discovered the sensor.
    explicit DiagSession(const std::optional<std::string>& profile,
                         Transport transport = Transport::mfi);
    ~DiagSession();

    // Connects to the first sensor in reach, waits for its start-up, reads the versions
    // and the bus, and disconnects.
    InfoReport info();
    // Writes the log archive; its path, or none.
    std::optional<std::filesystem::path> logs();

    const std::shared_ptr<Gateway>& gateway() const { return gateway_; }
    // The engine's reasons for a scan that did not read everything.
    EngineNotes& engineNotes() const { return *engineNotes_; }
    // The VIN of the vehicle profile (as a user would enter it), if it has one.
    const std::optional<std::string>& profileVin() const { return profileVin_; }

  private:
    class Bluetooth;
    std::unique_ptr<Bluetooth> bluetooth_;
    std::shared_ptr<sim::SimulatedAccessory> accessory_;
    std::shared_ptr<Gateway> gateway_;
    std::shared_ptr<EngineNotes> engineNotes_;
    std::optional<std::string> profileVin_;
};

}  // namespace qz::tools
