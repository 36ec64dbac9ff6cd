// A full scan (module scan and generic OBD-II read) of each simulated vehicle with manufacturer
// modules in sim/profiles, through the gateway's vehicle, relay and MFi session, with the
// vehicle answering at once and every pause passing at once. The library's CPU time is the CPU
// time of the scanning thread less that of the same sensor commands sent through a bare relay
// over the same kind of session (the baseline, measured in the same run).
// Counters per profile: modules (module reads reported), scan_us, baseline_us and library_us
// (CPU microseconds per module read), ratio (scan / baseline). Target: library_us at most 1000.
#include <benchmark/benchmark.h>

#include <time.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "api/Communication/PelkSensorState.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/Gateway/Gateway.hpp"
#include "lib/Scanning/QZEnhancedScanner.hpp"
#include "platform/DispatchQueue.hpp"
#include "platform/FileSystem.hpp"
#include "sim/SensorCore.hpp"
#include "sim/SimulatedAccessory.hpp"
#include "sim/VehicleProfile.hpp"
#include "tests/support/EngineFakes.hpp"

using namespace qz;
using namespace qz::sim;

namespace {

double threadCpuMicros() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

struct Waiter {
    std::mutex mutex;
    std::condition_variable cv;
    int calls = 0;
    void hit() {
        {
            std::lock_guard lock(mutex);
            ++calls;
        }
        cv.notify_all();
    }
    bool waitFor(int n) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(30), [&] { return calls >= n; });
    }
};

class CountingDelegate : public QZEEnhancedScannerDelegate {
  public:
    void scannedModule(const QZEModuleDataPtr&) override { ++modules; }
    void interactionRequired(const std::string&) override { onInteraction(); }
    std::atomic<int> modules{0};
    std::function<void()> onInteraction = [] {};
};

// CPU microseconds of the calling thread for the commands through a bare relay.
double baselineMicros(const VehicleProfile& profile, const std::vector<std::string>& commands) {
    auto core = std::make_shared<SensorCore>(profile);
    auto accessory = SimulatedAccessory::create(core);
    accessory->plugIn();
    auto controller = SessionController::create();
    auto relay = Relay::create(controller);
    Waiter opened;
    controller->connect(accessory->sensor(), [&](SensorConnectionStatus s) {
        if (s == SensorConnectionStatus::connected) opened.hit();
    });
    double cpu = 0;
    if (opened.waitFor(1)) {
        auto queue = DispatchQueue::create("baseline");
        queue->sync([&] {
            const double start = threadCpuMicros();
            for (const auto& cmd : commands) benchmark::DoNotOptimize(relay->sendToSensor(cmd));
            cpu = threadCpuMicros() - start;
        });
    }
    controller->disconnect(false);
    accessory->unplug();
    return cpu;
}

void BM_FullScan(benchmark::State& state, const std::filesystem::path& path) {
    ScopedHome home;
    auto events = std::make_shared<testsupport::EventLog>();
    ScopedClock clock(std::make_shared<testsupport::SteppingClock>(events));
    const auto profile = VehicleProfile::load(path);
    auto core = std::make_shared<SensorCore>(profile);
    auto accessory = SimulatedAccessory::create(core);
    accessory->plugIn();
    auto gateway = Gateway::create();
    Waiter connected;
    gateway->connect(gateway->connectedDevices().at(0), [&](PelkSensorState) { connected.hit(); });
    if (!connected.waitFor(1)) {
        state.SkipWithError("no connection");
        return;
    }
    gateway->vehicle()->setCurrentVin(profile.vin);

    auto delegate = std::make_shared<CountingDelegate>();
    double cpu = 0;
    int modules = 0;
    std::vector<std::string> commands;
    for (auto _ : state) {
        core->clearCommands();
        delegate->modules = 0;
        Gateway::gatewayQueue()->sync([&] {
            QZEnhancedScanner scanner;
            delegate->onInteraction = [&] { scanner.interactionComplete(); };
            scanner.setDelegate(delegate);
            const double start = threadCpuMicros();
            scanner.loadScan(1);
            scanner.startScan(1);
            scanner.startBasicObdScan(true);
            cpu += threadCpuMicros() - start;
        });
        DispatchQueue::main()->sync([] {});
        modules += delegate->modules;
        commands = core->commands();
    }
    const double iterations = static_cast<double>(std::max<int64_t>(state.iterations(), 1));
    const double reads = std::max(1.0, modules / iterations);
    const double scanPerModule = cpu / iterations / reads;
    const double baselinePerModule = baselineMicros(profile, commands) / reads;
    state.counters["modules"] = reads;
    state.counters["scan_us"] = scanPerModule;
    state.counters["baseline_us"] = baselinePerModule;
    state.counters["library_us"] = scanPerModule - baselinePerModule;
    state.counters["ratio"] = baselinePerModule > 0 ? scanPerModule / baselinePerModule : 0;
    gateway.reset();
    accessory->unplug();
}

// One benchmark per shipped profile that has manufacturer modules and a VIN.
const bool registered = [] {
    std::error_code ec;
    std::vector<std::filesystem::path> paths;
    for (const auto& entry :
         std::filesystem::directory_iterator(VehicleProfile::sampleFolder(), ec))
        if (entry.path().extension() == ".json") paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    for (const auto& path : paths) {
        try {
            const auto profile = VehicleProfile::load(path);
            if (profile.modules.empty() || profile.vin.empty()) continue;
        } catch (const std::exception&) {
            continue;
        }
        benchmark::RegisterBenchmark(("BM_FullScan/" + path.stem().string()).c_str(), BM_FullScan,
                                     path)
            ->Unit(benchmark::kMicrosecond)
            ->Iterations(5);
    }
    return true;
}();

}  // namespace
