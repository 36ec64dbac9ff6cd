// A scan from start to end, as an app runs it: the simulated sensor, plugged in as an accessory
// in front of one make's simulated vehicle, and a gateway that finds and connects it, reads the
// VIN, scans, prints every module's codes with their descriptions, clears one module and scans
// again.
//
//   qz_example_scan [PROFILE.json]   (default: the BMW profile of sim/profiles)
//
// QZ_TIME_SCALE (between 0 and 1) runs the library's waits and pauses that much faster.
// Exit status 0 when the cleared module shows no codes on the second scan, else 1.

#include <QZEnhanced/QZEnhanced.hpp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Clock.hpp"
#include "sim/SensorCore.hpp"
#include "sim/SimulatedAccessory.hpp"
#include "sim/VehicleProfile.hpp"

namespace {

// The first value a callback of the library receives; the library calls back on its own
// threads, this program's main thread waits.
template <class T>
class First {
  public:
    std::function<void(T)> callback() {
        return [state = state_](T value) {
            std::call_once(state->once, [&] { state->promise.set_value(std::move(value)); });
        };
    }
    T get() { return state_->promise.get_future().get(); }

  private:
    struct State {
        std::once_flag once;
        std::promise<T> promise;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Connects to the first sensor in reach and waits for its start-up.
bool connect(qz::Gateway& gateway) {
    auto sensors = gateway.connectedDevices();
    if (sensors.empty()) {
        std::fprintf(stderr, "no sensor in reach\n");
        return false;
    }
    std::printf("Connecting to %s\n", sensors.front()->name().c_str());
    First<qz::PelkSensorState> state;
    gateway.connect(sensors.front(), state.callback());
    const qz::PelkSensorState first = state.get();
    if (first.kind() != qz::PelkSensorState::Kind::onSensorConnected ||
        first.status() != qz::PelkSensorStatus::initialized) {
        std::fprintf(stderr, "the sensor did not start up: %s\n", first.description().c_str());
        return false;
    }
    return true;
}

// The VIN the vehicle reports, else the one the user would type in.
std::optional<std::string> vehicleVin(qz::Gateway& gateway, const std::string& typed) {
    First<qz::Result<std::string, qz::CommError>> vin;
    gateway.requestVin(vin.callback());
    auto result = vin.get();
    if (result) return *result;
    if (typed.empty()) return std::nullopt;
    return typed;
}

// Runs a full scan: progress on standard error, interactions answered as soon as they are
// shown (a user would first do what the message says).
qz::PelkScanProgress::ScanResult scan(qz::Gateway& gateway, const std::optional<std::string>& vin) {
    First<qz::PelkScanProgress::ScanResult> end;
    auto finish = end.callback();
    gateway.performScan(vin, qz::PelkScanType::all, [finish](qz::PelkScanProgress progress) {
        switch (progress.kind()) {
            case qz::PelkScanProgress::Kind::update:
                std::fprintf(stderr, "\rscanning %3.0f%%", 100.0 * progress.percentage());
                break;
            case qz::PelkScanProgress::Kind::interactionRequired:
                std::printf("\n%s\n", progress.interaction()->msg().c_str());
                progress.interaction()->listener()();
                break;
            case qz::PelkScanProgress::Kind::error:
                if (progress.error()->kind() == qz::PelkScanError::Kind::enhancedUnsupported) {
                    std::printf("No manufacturer scan for this make: generic codes only\n");
                    break;
                }
                finish(std::unexpected(*progress.error()));
                break;
            case qz::PelkScanProgress::Kind::complete:
                std::fprintf(stderr, "\n");
                finish(*progress.result());
                break;
        }
    });
    return end.get();
}

void print(const qz::PelkModules& modules) {
    for (const auto& module : modules) {
        std::printf("%s (%s)\n", module->name().c_str(), module->acronym().c_str());
        const auto codes = module->results();
        if (codes.empty()) std::printf("  no codes\n");
        for (const auto& code : codes)
            std::printf("  %-9s %-10s %s\n", code->code().c_str(), code->status().c_str(),
                        code->codeDescription().c_str());
    }
}

// The first manufacturer module that has codes.
std::shared_ptr<qz::PelkModule> moduleToClear(const qz::PelkModules& modules) {
    for (const auto& module : modules)
        if (module->acronym() != "OBD" && !module->results().empty()) return module;
    return nullptr;
}

int run(qz::Gateway& gateway, const std::string& typedVin) {
    if (!connect(gateway)) return 1;
    const auto vin = vehicleVin(gateway, typedVin);
    std::printf("VIN %s\n", vin.value_or("unknown").c_str());

    auto first = scan(gateway, vin);
    if (!first) {
        std::fprintf(stderr, "the scan failed: %s\n", qz::describe(first.error()).c_str());
        return 1;
    }
    print(*first);
    const auto module = moduleToClear(*first);
    if (!module) {
        std::printf("Nothing to clear\n");
        return 1;
    }

    std::printf("\nClearing %s\n", module->acronym().c_str());
    First<qz::PelkClearResult> cleared;
    gateway.clearModule(module, cleared.callback());
    const auto result = cleared.get();
    if (result.kind() == qz::PelkClearResult::Kind::error) {
        std::fprintf(stderr, "the clear failed: %s\n", qz::describe(*result.error()).c_str());
        return 1;
    }
    if (!result.result()) {
        std::fprintf(stderr, "the module refused the clear\n");
        return 1;
    }

    auto second = scan(gateway, vin);
    if (!second) {
        std::fprintf(stderr, "the second scan failed: %s\n", qz::describe(second.error()).c_str());
        return 1;
    }
    print(*second);
    for (const auto& m : *second)
        if (m->acronym() == module->acronym() && m->name() == module->name())
            return m->results().empty() ? 0 : 1;
    std::fprintf(stderr, "the second scan did not report %s\n", module->acronym().c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<qz::ScopedClock> faster;
    if (const char* scale = std::getenv("QZ_TIME_SCALE");
        scale && std::atof(scale) > 0 && std::atof(scale) < 1)
        faster.emplace(std::make_shared<qz::ScaledClock>(std::atof(scale)));

    const auto profile = qz::sim::VehicleProfile::load(
        argc > 1 ? std::filesystem::path(argv[1])
                 : qz::sim::VehicleProfile::sampleFolder() / "bmw.json");
    auto accessory =
        qz::sim::SimulatedAccessory::create(std::make_shared<qz::sim::SensorCore>(profile));
    accessory->plugIn();

    auto gateway = qz::Gateway::create();
    const int status = run(*gateway, profile.vin);
    gateway->disconnect();
    gateway.reset();
    accessory->unplug();
    return status;
}
