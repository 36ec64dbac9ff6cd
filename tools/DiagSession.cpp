#include "DiagSession.hpp"

#include <stdexcept>

#include "Answers.hpp"
#include "Reasons.hpp"
#include "api/Communication/PelkSensorState.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/Gateway/Gateway.hpp"
#include "platform/Console.hpp"
#include "sim/SensorCore.hpp"
#include "sim/SimulatedAccessory.hpp"
#include "sim/SimulatedBluetooth.hpp"
#include "sim/VehicleProfile.hpp"

namespace qz::tools {

namespace {

std::string busText(Gateway& gateway) {
    if (auto vehicle = gateway.vehicle()) return vehicle->obd2ProtocolString().value_or("UNKNOWN");
    return "UNKNOWN";
}

}  // namespace

// The simulated Bluetooth world of the run: every central the library makes is one of its
// own (never the machine's Bluetooth), with the sensor's BGX13 module in reach over BLE.
class DiagSession::Bluetooth {
  public:
    Bluetooth() : installation(sim::SimulatedBluetooth::create()) {}
    sim::SimulatedBluetooth::Installation installation;
    std::shared_ptr<sim::SimulatedBGX13> module;
};

DiagSession::DiagSession(const std::optional<std::string>& profile, Transport transport)
    : bluetooth_(std::make_unique<Bluetooth>()) {
    if (profile && std::filesystem::is_directory(*profile))
        throw std::runtime_error("vehicle profile: " + *profile +
                                 " is a folder; give one of its profiles (a .json file)");
    auto vehicle = profile ? sim::VehicleProfile::load(*profile) : sim::VehicleProfile::builtIn();
    if (!vehicle.vin.empty()) profileVin_ = vehicle.vin;
    auto core = std::make_shared<sim::SensorCore>(vehicle);
    // The driver's console lines are not the demo's output.
    console::setSink(nullptr);
    if (transport == Transport::ble) {
        sim::SimulatedBGX13::Options options;
        options.identifier = UUID::fromString("5D1E0B13-0B7E-4C1A-9A3F-0571E7B6A13C");
        bluetooth_->module = sim::SimulatedBGX13::create(core, options);
        bluetooth_->installation.world()->add(bluetooth_->module);
    } else {
        accessory_ = sim::SimulatedAccessory::create(core);
        accessory_->plugIn();
    }
    gateway_ = Gateway::create();
    engineNotes_ = EngineNotes::listen();
    if (transport != Transport::ble) return;
    auto le = gateway_->sessionController()->leController();
    auto clock = Clock::current();
    auto deadline = clock->deadlineAfter(kAnswerTimeout);
    while (le && le->discoveredDevices().empty() && clock->now() < deadline) clock->sleepFor(0.005);
}

DiagSession::~DiagSession() {
    gateway_.reset();
    if (accessory_) accessory_->unplug();
    bluetooth_.reset();
}

InfoReport DiagSession::info() {
    InfoReport report;
    report.libraryVersion = gateway_->libraryVersion();
    auto sensors = gateway_->connectedDevices();
    if (sensors.empty()) {
        report.error = "no sensor in reach";
        return report;
    }
    auto sensor = sensors.front();
    report.sensorName = sensor->name();
    report.sensorIdentifier = sensor->identifier();
    report.sensorType = sensor->sensorType().isMfi() ? "mfi" : "le";

    Answers<PelkSensorState> states;
    gateway_->connect(sensor, states.callback());
    auto first = states.first();
    if (!first) {
        report.error = "the sensor did not answer";
        gateway_->disconnect();
        return report;
    }
    report.stateText = first->description();
    report.initialized = first->kind() == PelkSensorState::Kind::onSensorConnected &&
                         first->status() == PelkSensorStatus::initialized;
    report.recovery = first->kind() == PelkSensorState::Kind::onSensorConnected &&
                      first->status() == PelkSensorStatus::recoveryMode;
    if (first->kind() == PelkSensorState::Kind::onSensorConnected) {
        report.sensorVersion = gateway_->sensorVersion();
        report.bus = busText(*gateway_);
        gateway_->disconnect();
        auto closed = states.waitFor(
            [](const PelkSensorState& s) {
                return s.kind() == PelkSensorState::Kind::onSensorDisconnected;
            },
            kAnswerTimeout);
        report.disconnected = closed.has_value();
        if (!closed) report.error = "the sensor did not report the disconnect";
    } else if (first->kind() == PelkSensorState::Kind::onError) {
        report.error = "the connection did not open";
    }
    if (report.error.empty() && report.recovery)
        report.error = "the sensor is in firmware recovery mode: update its firmware first";
    if (report.error.empty() && !report.initialized) report.error = "the sensor did not start up";
    return report;
}

std::optional<std::filesystem::path> DiagSession::logs() {
    // The closure runs on the main queue; this thread only waits.
    Answers<std::optional<std::filesystem::path>> answer;
    gateway_->requestZippedLogs(answer.callback());
    return answer.first().value_or(std::nullopt);
}

}  // namespace qz::tools
