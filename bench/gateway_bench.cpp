// A whole connect of the gateway (session opened, start-up commands, state reported on the
// main queue, disconnect reported) over the simulated MFi accessory, beside the same start-up
// commands sent through a bare relay over the same kind of accessory session (the baseline,
// measured in the same run). Counters: baseline_us, gateway_us, ratio (gateway / baseline).
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "api/Communication/PelkSensorState.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/Gateway/Gateway.hpp"
#include "platform/FileSystem.hpp"
#include "sim/SimulatedAccessory.hpp"

using namespace qz;
using namespace qz::sim;

namespace {

// Counts listener calls and lets the benchmark wait for the next one.
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

// Microseconds per start-up through a bare relay over an open accessory session.
double baselineMicros(int rounds) {
    auto accessory = SimulatedAccessory::create();
    accessory->plugIn();
    auto controller = SessionController::create();
    auto relay = Relay::create(controller);
    auto sensor = accessory->sensor();
    Waiter opened;
    controller->connect(sensor, [&](SensorConnectionStatus s) {
        if (s == SensorConnectionStatus::connected) opened.hit();
    });
    if (!opened.waitFor(1)) return 0;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i)
        for (const char* cmd : {"KQD", "KQI", "KQDP"})
            benchmark::DoNotOptimize(relay->sendToSensor(cmd));
    auto elapsed = std::chrono::steady_clock::now() - start;
    controller->disconnect(false);
    accessory->unplug();
    return std::chrono::duration<double, std::micro>(elapsed).count() / rounds;
}

void BM_GatewayConnect(benchmark::State& state) {
    ScopedHome home;
    const double baseline = baselineMicros(200);
    auto accessory = SimulatedAccessory::create();
    accessory->plugIn();
    auto gateway = Gateway::create();
    auto sensor = gateway->connectedDevices().at(0);
    Waiter heard;
    int expected = 0;
    size_t failures = 0;
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        gateway->connect(sensor, [&](PelkSensorState) { heard.hit(); });
        if (!heard.waitFor(++expected)) ++failures;
        gateway->disconnect();
        if (!heard.waitFor(++expected)) ++failures;
    }
    auto elapsed = std::chrono::steady_clock::now() - start;
    const double perConnect =
        std::chrono::duration<double, std::micro>(elapsed).count() /
        static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
    state.counters["baseline_us"] = baseline;
    state.counters["gateway_us"] = perConnect;
    state.counters["ratio"] = baseline > 0 ? perConnect / baseline : 0;
    state.counters["failures"] = static_cast<double>(failures);
    gateway.reset();
    accessory->unplug();
}

}  // namespace

BENCHMARK(BM_GatewayConnect)->Unit(benchmark::kMicrosecond)->Iterations(200);
