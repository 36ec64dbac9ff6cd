#include "DiagSession.hpp"

#include <condition_variable>
#include <mutex>
#include <vector>

#include "api/Communication/PelkSensorState.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/Gateway/Gateway.hpp"
#include "platform/Clock.hpp"
#include "sim/SensorCore.hpp"
#include "sim/SimulatedAccessory.hpp"
#include "sim/VehicleProfile.hpp"

namespace qz::tools {

namespace {

// Collects the connect listener's states (the listener may outlive the run).
class StateLog {
  public:
    PelkSensorDelegate::SensorListener listener() {
        return [state = state_](PelkSensorState s) {
            {
                std::lock_guard lock(state->mutex);
                state->seen.push_back(std::move(s));
            }
            state->changed.notify_all();
        };
    }
    // Waits until a state that `match` accepts has arrived; the first such state.
    std::optional<PelkSensorState> waitFor(std::function<bool(const PelkSensorState&)> match,
                                           double seconds) {
        std::unique_lock lock(state_->mutex);
        std::optional<PelkSensorState> found;
        Clock::current()->waitFor(lock, state_->changed, seconds, [&] {
            for (auto& s : state_->seen)
                if (match(s)) {
                    found = s;
                    return true;
                }
            return false;
        });
        return found;
    }

  private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<PelkSensorState> seen;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

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

    StateLog states;
    gateway_->connect(sensor, states.listener());
    auto first = states.waitFor([](const PelkSensorState&) { return true; }, kAnswerTimeout);
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
    std::optional<std::filesystem::path> result;
    // The closure runs on the main queue; this thread only waits.
    auto shared = std::make_shared<std::pair<std::mutex, std::condition_variable>>();
    auto answer = std::make_shared<std::optional<std::optional<std::filesystem::path>>>();
    gateway_->requestZippedLogs([shared, answer](std::optional<std::filesystem::path> url) {
        {
            std::lock_guard lock(shared->first);
            *answer = url;
        }
        shared->second.notify_all();
    });
    std::unique_lock lock(shared->first);
    Clock::current()->waitFor(lock, shared->second, kAnswerTimeout,
                              [&] { return answer->has_value(); });
    if (answer->has_value()) result = **answer;
    return result;
}

}  // namespace qz::tools
