#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace qz {
class Gateway;
namespace sim {
class SimulatedAccessory;
}
}  // namespace qz

namespace qz::tools {

// What `qzdiag info` reports.
struct InfoReport {
    std::optional<std::string> sensorName;
    std::optional<std::string> sensorIdentifier;
    std::string sensorType;
    std::string stateText = "no answer";
    bool initialized = false;
    float sensorVersion = 0;
    std::string bus = "UNKNOWN";
    std::string libraryVersion;
    bool disconnected = false;
    std::string error;

    bool ok() const { return initialized && error.empty(); }
};

// One run of the demo: the simulated sensor plugged in as an MFi accessory and a gateway
// that reaches it through the accessory session, as the host app would.
class DiagSession {
  public:
    // Seconds the demo waits for each answer of the library.
    static constexpr double kAnswerTimeout = 30.0;

    // `profile`: a vehicle profile file; none for the built-in one. Throws when the
    // profile cannot be read.
    explicit DiagSession(const std::optional<std::string>& profile);
    ~DiagSession();

    // Connects to the first sensor in reach, waits for its start-up, reads the versions
    // and the bus, and disconnects.
    InfoReport info();
    // Writes the log archive; its path, or none.
    std::optional<std::filesystem::path> logs();

    const std::shared_ptr<Gateway>& gateway() const { return gateway_; }

  private:
    std::shared_ptr<sim::SimulatedAccessory> accessory_;
    std::shared_ptr<Gateway> gateway_;
};

}  // namespace qz::tools
