// Relay exchanges per second over the in-process simulated accessory, beside the simulated
// sensor answering the same commands directly (the baseline, measured in the same run).
// Counters: direct_us (baseline per exchange), overhead_us (library time per exchange on
// top of the baseline) and ratio (relay time / baseline time).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "api/Communication/Relay.hpp"
#include "api/Communication/SessionController.hpp"
#include "platform/DispatchQueue.hpp"
#include "sim/FakeSensorLink.hpp"
#include "sim/SimulatedAccessory.hpp"

using namespace qz;
using namespace qz::sim;

namespace {

const char* const kCommands[] = {"KQI", "010C", "0100", "KQDP"};
constexpr size_t kCommandCount = sizeof(kCommands) / sizeof(kCommands[0]);

// One exchange with the sensor core alone: scramble, answer, descramble.
std::string askDirect(SensorCore& core, const std::string& command) {
    std::string text;
    for (const auto& out : core.receive(scramble(command + "\r")))
        if (out.kind == Output::Kind::Bytes) text += scrambleToString(out.bytes);
    return text;
}

// Microseconds per direct exchange, measured now.
double directMicros() {
    SensorCore core;
    constexpr int kRounds = 20000;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) {
        auto text = askDirect(core, kCommands[i % kCommandCount]);
        benchmark::DoNotOptimize(text);
    }
    auto elapsed = std::chrono::steady_clock::now() - start;
    return std::chrono::duration<double, std::micro>(elapsed).count() / kRounds;
}

void BM_SensorDirect(benchmark::State& state) {
    SensorCore core;
    size_t i = 0;
    for (auto _ : state) {
        auto text = askDirect(core, kCommands[i++ % kCommandCount]);
        benchmark::DoNotOptimize(text);
    }
    state.counters["exchanges_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

template <class Exchange>
void runRelay(benchmark::State& state, Exchange&& exchange) {
    const double baseline = directMicros();
    size_t i = 0;
    size_t failures = 0;
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (!exchange(kCommands[i++ % kCommandCount])) ++failures;
    }
    auto elapsed = std::chrono::steady_clock::now() - start;
    const double perExchange =
        std::chrono::duration<double, std::micro>(elapsed).count() /
        static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
    state.counters["exchanges_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["direct_us"] = baseline;
    state.counters["overhead_us"] = perExchange - baseline;
    state.counters["ratio"] = baseline > 0 ? perExchange / baseline : 0;
    state.counters["failures"] = static_cast<double>(failures);
}

void BM_RelayOverFakeLink(benchmark::State& state) {
    auto relay = Relay::createWithSensor(FakeSensorLink::create());
    runRelay(state, [&](const char* cmd) { return relay->sendToSensor(cmd).has_value(); });
}

void BM_RelayOverSimulatedAccessory(benchmark::State& state) {
    auto sim = SimulatedAccessory::create();
    sim->plugIn();
    auto controller = SessionController::create();
    auto relay = Relay::create(controller);
    std::atomic<bool> connected{false};
    controller->connect(sim->sensor(), [&](SensorConnectionStatus s) {
        if (s == SensorConnectionStatus::connected) connected = true;
    });
    while (!connected) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    runRelay(state, [&](const char* cmd) { return relay->sendToSensor(cmd).has_value(); });
    controller->disconnect(false);
    sim.reset();
    DispatchQueue::main()->sync([] {});
}

}  // namespace

BENCHMARK(BM_SensorDirect);
BENCHMARK(BM_RelayOverFakeLink)->UseRealTime();
BENCHMARK(BM_RelayOverSimulatedAccessory)->UseRealTime();
