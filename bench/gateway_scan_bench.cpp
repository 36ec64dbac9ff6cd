// A full scan ("all") of each simulated make's vehicle (every profile of sim/profiles with
// manufacturer modules) through the gateway: the scan controller, the analytics events, the
// engine, the MFi session and the simulated sensor, in process CPU time per module read. The
// baseline, measured in the same run on the same connection, is the engine scan alone (the same
// scanner calls on the gateway's queue with a plain delegate); the difference is the controller's
// and the facade's share. Sleeps pass at once; the analytics backend refuses connections, so
// every event takes the offline path (it is cached). Counters: modules (reads per scan),
// engine_us and gateway_us (CPU per module), ratio (gateway / engine).
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <mutex>

#include "api/Communication/PelkSensorState.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/Gateway/Gateway.hpp"
#include "api/Web/PelkWeb.hpp"
#include "lib/Scanning/QZEnhancedScanner.hpp"
#include "platform/Clock.hpp"
#include "platform/FileSystem.hpp"
#include "sim/SensorCore.hpp"
#include "sim/SimulatedAccessory.hpp"
#include "sim/VehicleProfile.hpp"
#include "tests/support/EngineFakes.hpp"

using namespace qz;
using namespace qz::sim;

namespace {

double processCpuMicros() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

// Sleeps pass at once (the time moves on by their length); waits run in real time.
class InstantSleeps : public testsupport::SkippedSleepsClock {
  public:
    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   TimePoint deadline, const std::function<bool()>& pred) override {
        return cv.wait_until(lock, std::chrono::steady_clock::now() + (deadline - now()), pred);
    }
};

// Waits for one value.
template <class T>
class Latch {
  public:
    void set(T value) {
        {
            std::lock_guard lock(mutex_);
            value_ = std::move(value);
        }
        cv_.notify_all();
    }
    std::optional<T> wait() {
        std::unique_lock lock(mutex_);
        cv_.wait_for(lock, std::chrono::seconds(60), [&] { return value_.has_value(); });
        return value_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::optional<T> value_;
};

// The engine's delegate of the baseline: counts the modules, lets every prompt pass.
class Counter : public QZEEnhancedScannerDelegate {
  public:
    void scannedModule(const QZEModuleDataPtr&) override { ++modules; }
    void interactionRequired(const std::string&) override {
        if (auto s = scanner.lock()) s->interactionComplete();
    }
    std::atomic<int> modules{0};
    std::weak_ptr<QZEnhancedScanner> scanner;
};

// The engine scan alone; the modules it reported.
int engineScan() {
    auto counter = std::make_shared<Counter>();
    auto scanner = std::make_shared<QZEnhancedScanner>();
    counter->scanner = scanner;
    scanner->setDelegate(counter);
    Gateway::gatewayQueue()->sync([&] {
        scanner->loadScan(QZEnhancedScanner::kFullScan);
        scanner->startScan(QZEnhancedScanner::kFullScan);
        scanner->startBasicObdScan(true);
    });
    DispatchQueue::main()->sync([] {});
    return counter->modules;
}

// A scan through the gateway; the modules it reported (its progress updates), -1 on failure.
int gatewayScan(Gateway& gateway, const std::string& vin) {
    auto updates = std::make_shared<std::atomic<int>>(0);
    auto done = std::make_shared<Latch<bool>>();
    gateway.performScan(vin, PelkScanType::all, [updates, done](PelkScanProgress p) {
        if (p.kind() == PelkScanProgress::Kind::update) ++*updates;
        if (p.kind() == PelkScanProgress::Kind::interactionRequired) p.interaction()->listener()();
        if (p.kind() == PelkScanProgress::Kind::complete) done->set(p.result()->has_value());
        if (p.kind() == PelkScanProgress::Kind::error &&
            p.error()->kind() != PelkScanError::Kind::enhancedUnsupported)
            done->set(false);
    });
    auto ok = done->wait();
    return ok && *ok ? updates->load() : -1;
}

void BM_GatewayFullScan(benchmark::State& state, const std::string& file) {
    ScopedHome home;
    PelkWeb::setBackendHost("http://127.0.0.1:9");
    auto profile = VehicleProfile::load(VehicleProfile::sampleFolder() / file);
    const std::string vin = profile.vin;
    auto accessory = SimulatedAccessory::create(std::make_shared<SensorCore>(std::move(profile)));
    accessory->plugIn();
    auto gateway = Gateway::create();
    Latch<PelkSensorState> connected;
    gateway->connect(gateway->connectedDevices().at(0),
                     [&](PelkSensorState s) { connected.set(std::move(s)); });
    if (!connected.wait() || gateway->status() != SensorConnectionStatus::connected) {
        state.SkipWithError("the sensor did not connect");
        return;
    }
    ScopedClock clock(std::make_shared<InstantSleeps>());
    gateway->vehicle()->setCurrentVin(vin);

    // Both paths once first: the definition files and code tables load on first use.
    engineScan();
    gatewayScan(*gateway, vin);

    constexpr int kBaselineRounds = 10;
    int modules = 0;
    double start = processCpuMicros();
    for (int i = 0; i < kBaselineRounds; ++i) modules = engineScan();
    const double engine = (processCpuMicros() - start) / kBaselineRounds;

    int failures = 0;
    start = processCpuMicros();
    for (auto _ : state)
        if (gatewayScan(*gateway, vin) < 0) ++failures;
    const double perScan =
        (processCpuMicros() - start) /
        static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));

    const double perModule = std::max(modules, 1);
    state.counters["modules"] = modules;
    state.counters["engine_us"] = engine / perModule;
    state.counters["gateway_us"] = perScan / perModule;
    state.counters["ratio"] = engine > 0 ? perScan / engine : 0;
    state.counters["failures"] = failures;
    gateway->disconnect();
    Gateway::gatewayQueue()->sync([] {});
    gateway.reset();
    accessory->unplug();
    PelkWeb::setBackendHost("");
}

// One benchmark per make's vehicle.
const bool registered = [] {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(VehicleProfile::sampleFolder()))
        if (entry.path().extension() == ".json" &&
            !VehicleProfile::load(entry.path()).modules.empty())
            files.push_back(entry.path().filename());
    std::sort(files.begin(), files.end());
    for (const auto& file : files)
        benchmark::RegisterBenchmark(("BM_GatewayFullScan/" + file.stem().string()).c_str(),
                                     BM_GatewayFullScan, file.string())
            ->Unit(benchmark::kMicrosecond)
            ->Iterations(10);
    return true;
}();

}  // namespace
