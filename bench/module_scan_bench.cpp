// A full module scan of the simulated vehicles of BMW, Nissan, Mercedes, the Volkswagen group,
// Mitsubishi and Subaru (sim/profiles), through the gateway's vehicle and relay over the simulated
// MFi accessory, which answers at once; the scan's pauses pass at once. Beside it, the baseline
// measured in the same run: the same sensor commands sent through the bare relay. Counters:
// cpu_us_per_module (process CPU time of a scan per module read, the simulator's share
// included), baseline_us_per_module (the same for the commands alone), ratio (scan / baseline),
// modules (module reads per scan).
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <optional>

#include "api/Communication/PelkSensorState.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/Gateway/Gateway.hpp"
#include "lib/Scanning/QZEnhancedScanner.hpp"
#include "platform/Clock.hpp"
#include "platform/FileSystem.hpp"
#include "sim/SensorCore.hpp"
#include "sim/SimulatedAccessory.hpp"
#include "sim/VehicleProfile.hpp"

using namespace qz;
using namespace qz::sim;

namespace {

// Sleeps pass at once; waits for another thread run in real time.
class SkippingClock : public Clock {
  public:
    TimePoint now() const override { return std::chrono::steady_clock::now() + offset(); }
    WallTimePoint wallNow() const override { return std::chrono::system_clock::now(); }
    void sleepFor(double seconds) override {
        std::lock_guard lock(mutex_);
        if (seconds > 0) offset_ += toDuration(seconds);
    }
    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   TimePoint deadline, const std::function<bool()>& pred) override {
        return cv.wait_until(lock, deadline - offset(), pred);
    }

  private:
    Duration offset() const {
        std::lock_guard lock(mutex_);
        return offset_;
    }
    mutable std::mutex mutex_;
    Duration offset_{};
};

// Completes the key flick a BMW scan asks for.
class Delegate : public QZEEnhancedScannerDelegate {
  public:
    void scannedModule(const QZEModuleDataPtr&) override {}
    void interactionRequired(const std::string&) override {
        if (auto s = scanner.lock()) s->interactionComplete();
    }
    std::weak_ptr<QZEnhancedScanner> scanner;
};

struct Connected {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
};

double cpuMicros(std::clock_t from) {
    return 1e6 * static_cast<double>(std::clock() - from) / CLOCKS_PER_SEC;
}

void BM_ModuleScan(benchmark::State& state, const char* profileFile) {
    ScopedHome home;
    auto profile = VehicleProfile::load(VehicleProfile::sampleFolder() / profileFile);
    const std::string vin = profile.vin;
    auto core = std::make_shared<SensorCore>(std::move(profile));
    auto accessory = SimulatedAccessory::create(core);
    accessory->plugIn();
    auto gateway = Gateway::create();
    // The session may lose the first command while it opens; its wait is scaled down.
    std::optional<ScopedClock> connecting(std::in_place, std::make_shared<ScaledClock>(0.05));
    auto connected = std::make_shared<Connected>();
    gateway->connect(gateway->connectedDevices().at(0), [connected](PelkSensorState) {
        std::lock_guard lock(connected->mutex);
        connected->done = true;
        connected->cv.notify_all();
    });
    {
        std::unique_lock lock(connected->mutex);
        if (!connected->cv.wait_for(lock, std::chrono::seconds(30),
                                    [&] { return connected->done; }))
            state.SkipWithError("the sensor did not connect");
    }
    gateway->vehicle()->setCurrentVin(vin);
    connecting.reset();
    ScopedClock clock(std::make_shared<SkippingClock>());

    double scanCpu = 0;
    int64_t reads = 0;
    std::vector<std::string> commands;
    for (auto _ : state) {
        core->clearCommands();
        auto delegate = std::make_shared<Delegate>();
        auto scanner = std::make_shared<QZEnhancedScanner>();
        delegate->scanner = scanner;
        scanner->setDelegate(delegate);
        const std::clock_t start = std::clock();
        reads = scanner->loadScan(QZEnhancedScanner::kFullScan) - 2;
        scanner->startScan(QZEnhancedScanner::kFullScan);
        scanCpu += cpuMicros(start);
        commands = core->commands();
    }
    const auto iterations = static_cast<double>(std::max<int64_t>(state.iterations(), 1));

    auto relay = gateway->vehicle()->relay();
    const std::clock_t start = std::clock();
    for (const auto& cmd : commands) benchmark::DoNotOptimize(relay->sendToSensor(cmd));
    const double baseline = cpuMicros(start);

    const double perModule = reads > 0 ? scanCpu / iterations / static_cast<double>(reads) : 0;
    const double baselinePerModule = reads > 0 ? baseline / static_cast<double>(reads) : 0;
    state.counters["modules"] = static_cast<double>(reads);
    state.counters["cpu_us_per_module"] = perModule;
    state.counters["baseline_us_per_module"] = baselinePerModule;
    state.counters["ratio"] = baselinePerModule > 0 ? perModule / baselinePerModule : 0;
    gateway.reset();
    accessory->unplug();
}

}  // namespace

BENCHMARK_CAPTURE(BM_ModuleScan, Bmw, "bmw.json")->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_CAPTURE(BM_ModuleScan, Nissan, "nissan.json")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK_CAPTURE(BM_ModuleScan, MercedesCan, "mercedes.json")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK_CAPTURE(BM_ModuleScan, MercedesKline, "mercedes-kline.json")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK_CAPTURE(BM_ModuleScan, Volkswagen, "volkswagen.json")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK_CAPTURE(BM_ModuleScan, Mitsubishi, "mitsubishi.json")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK_CAPTURE(BM_ModuleScan, Subaru, "subaru.json")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
