// Live data against the simulated vehicle answering at once (in the sending thread): a full
// support discovery plus one refresh of every supported PID number, in CPU time per parameter.
// The baseline, measured in the same run, sends the same commands straight to the simulated
// sensor and splits each reply into byte texts with a plain loop; the library's share is the
// difference. Counters: params, baseline_us and library_us (CPU per parameter), ratio
// (library path / baseline).
#include <benchmark/benchmark.h>

#include <ctime>
#include <mutex>
#include <set>

#include "api/Communication/Relay.hpp"
#include "api/PIDs/PIDInterface.hpp"
#include "platform/FileSystem.hpp"
#include "sim/SensorCore.hpp"
#include "sim/VehicleProfile.hpp"

using namespace qz;
using namespace qz::sim;

namespace {

double threadCpuMicros() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

// A sensor that answers every command at once, in the sending thread, and records it.
class InstantSensor : public SensorDelegate {
  public:
    explicit InstantSensor(std::shared_ptr<SensorCore> core) : core_(std::move(core)) {}
    void send(const std::string& cmd) override {
        std::string command = cmd;
        if (!command.empty() && command.back() == '\r') command.pop_back();
        if (recording_) sent_.push_back(command);
        auto text = core_->answer(command);
        if (auto r = receiver_.lock()) r->received(text);
    }
    void write(const Data&, bool) override {}
    void setReceiver(const std::shared_ptr<SensorReceiver>& receiver) override {
        receiver_ = receiver;
    }
    void record(bool on) { recording_ = on; }
    const std::vector<std::string>& sent() const { return sent_; }

  private:
    std::shared_ptr<SensorCore> core_;
    std::weak_ptr<SensorReceiver> receiver_;
    bool recording_ = false;
    std::vector<std::string> sent_;
};

std::shared_ptr<SensorCore> fullVehicle() {
    return std::make_shared<SensorCore>(
        VehicleProfile::load(VehicleProfile::sampleFolder() / "live-full.json"));
}

// One discovery and one refresh of every supported PID number (a refresh feeds every object of
// its number, as `qzdiag live` does it); the number of parameters.
size_t discoverAndRefresh(PIDInterface& pids) {
    auto supported = pids.checkSupport();
    if (!supported) return 0;
    std::set<uint64_t> refreshed;
    for (auto& p : *supported)
        if (refreshed.insert(p->pid()).second) benchmark::DoNotOptimize(pids.updatePid(p));
    return supported->size();
}

// The same commands answered by the sensor alone, each reply split into byte texts.
void plainRound(SensorCore& core, const std::vector<std::string>& commands) {
    for (const auto& c : commands) {
        std::string reply = core.answer(c);
        std::vector<std::string> bytes;
        std::string cur;
        for (char ch : reply) {
            if (ch == ' ' || ch == '\r' || ch == '>') {
                if (!cur.empty()) bytes.push_back(std::move(cur));
                cur.clear();
            } else {
                cur.push_back(ch);
            }
        }
        benchmark::DoNotOptimize(bytes);
    }
}

void BM_LiveDiscoveryAndRefresh(benchmark::State& state) {
    ScopedHome home;  // the library's log goes to a scratch folder
    auto core = fullVehicle();
    auto sensor = std::make_shared<InstantSensor>(core);
    auto relay = Relay::createWithSensor(sensor);
    PIDInterface pids;
    pids.setRelay(relay);

    // The commands of one round, for the baseline.
    sensor->record(true);
    const size_t params = discoverAndRefresh(pids);
    sensor->record(false);
    const auto commands = sensor->sent();

    double baselineCpu = 0, libraryCpu = 0;
    int64_t rounds = 0;
    for (auto _ : state) {
        double t0 = threadCpuMicros();
        plainRound(*core, commands);
        double t1 = threadCpuMicros();
        benchmark::DoNotOptimize(discoverAndRefresh(pids));
        double t2 = threadCpuMicros();
        baselineCpu += t1 - t0;
        libraryCpu += t2 - t1;
        ++rounds;
    }
    const double n = static_cast<double>(params) * static_cast<double>(rounds);
    state.counters["params"] = static_cast<double>(params);
    state.counters["commands"] = static_cast<double>(commands.size());
    state.counters["baseline_us"] = baselineCpu / n;
    state.counters["library_us"] = (libraryCpu - baselineCpu) / n;
    state.counters["ratio"] = baselineCpu > 0 ? libraryCpu / baselineCpu : 0;
}
BENCHMARK(BM_LiveDiscoveryAndRefresh)->Unit(benchmark::kMillisecond)->MinTime(0.5);

}  // namespace
