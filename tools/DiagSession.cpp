#include "DiagSession.hpp"

#include "Answers.hpp"
#include "api/Communication/PelkSensorState.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/Gateway/Gateway.hpp"
#include "sim/SensorCore.hpp"
#include "sim/SimulatedAccessory.hpp"
#include "sim/VehicleProfile.hpp"

namespace qz::tools {

namespace {

std::string busText(Gateway& gateway) {
    if (auto vehicle = gateway.vehicle()) return vehicle->obd2ProtocolString().value_or("UNKNOWN");
    return "UNKNOWN";
}

}  // namespace

DiagSession::DiagSession(const std::optional<std::string>& profile) {
    auto vehicle = profile ? sim::VehicleProfile::load(*profile) : sim::VehicleProfile::builtIn();
    accessory_ = sim::SimulatedAccessory::create(std::make_shared<sim::SensorCore>(vehicle));
    accessory_->plugIn();
    gateway_ = Gateway::create();
}

DiagSession::~DiagSession() {
    gateway_.reset();
    if (accessory_) accessory_->unplug();
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
