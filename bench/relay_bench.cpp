// Relay exchanges beside a baseline that makes the same trip without a relay: the command goes
// through the same simulated link (scrambled and answered on the sending thread, the answer
// hopping to the main queue, descrambled there) to a receiver that wakes the waiting sender. Both
// are measured in batches that take turns, in CPU time of the whole process (both threads), so that
// the difference is the library's own work: the relay, its two log lines and, over the accessory,
// the session. Counters: baseline_us and relay_us (CPU per exchange), own_us (the difference), and
// wall time per exchange; log_syscalls_us, in the fake-link run, is the CPU per exchange of the
// system calls the log's two lines cannot do without (per line one look for changes to its
// folder and one write of its record), the floor of own_us on this machine.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <thread>

#include "api/Communication/Relay.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/Logging/FileLog.hpp"
#include "api/Logging/Log.hpp"
#include "platform/DispatchQueue.hpp"
#include "platform/FileSystem.hpp"
#include "sim/FakeSensorLink.hpp"
#include "sim/SimulatedAccessory.hpp"

using namespace qz;
using namespace qz::sim;

namespace {

const char* const kCommands[] = {"KQI", "010C", "0100", "KQDP"};
constexpr size_t kCommandCount = sizeof(kCommands) / sizeof(kCommands[0]);
constexpr int kBatch = 100;

double processCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The trip without a relay: the same simulated link, with a receiver that only waits for the
// prompt.
class PlainTrip : public SensorReceiver {
  public:
    PlainTrip() { link_->setReceiver(self_); }

    std::string ask(const std::string& command) {
        {
            std::lock_guard lock(mutex_);
            text_.clear();
            answered_ = false;
        }
        link_->send(command + "\r");
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return answered_; });
        return text_;
    }

    void received(const std::string& response) override {
        {
            std::lock_guard lock(mutex_);
            text_ += response;
            if (response.find('>') == std::string::npos) return;
            answered_ = true;
        }
        cv_.notify_all();
    }

  private:
    // The link holds its receiver weakly; this one lives as long as the trip.
    std::shared_ptr<SensorReceiver> self_{this, [](SensorReceiver*) {}};
    std::shared_ptr<FakeSensorLink> link_ = FakeSensorLink::create();
    std::mutex mutex_;
    std::condition_variable cv_;
    std::string text_;
    bool answered_ = false;
};

template <class Exchange>
void runAgainstPlainTrip(benchmark::State& state, Exchange&& exchange) {
    PlainTrip plain;
    size_t i = 0, failures = 0;
    double plainCpu = 0, relayCpu = 0, relayWall = 0;
    for (auto _ : state) {
        const double c0 = processCpuSeconds();
        for (int k = 0; k < kBatch; ++k)
            benchmark::DoNotOptimize(plain.ask(kCommands[(i + k) % kCommandCount]));
        const double c1 = processCpuSeconds(), w1 = wallSeconds();
        for (int k = 0; k < kBatch; ++k)
            if (!exchange(kCommands[(i + k) % kCommandCount])) ++failures;
        const double c2 = processCpuSeconds(), w2 = wallSeconds();
        i += kBatch;
        plainCpu += c1 - c0;
        relayCpu += c2 - c1;
        relayWall += w2 - w1;
    }
    const double n = static_cast<double>(state.iterations()) * kBatch;
    state.counters["baseline_us"] = plainCpu / n * 1e6;
    state.counters["relay_us"] = relayCpu / n * 1e6;
    state.counters["own_us"] = (relayCpu - plainCpu) / n * 1e6;
    state.counters["relay_wall_us"] = relayWall / n * 1e6;
    state.counters["failures"] = static_cast<double>(failures);
}

// CPU per exchange of the log's system calls alone, as the log makes them for each of the two
// lines: an empty epoll_wait on an inotify watch of the folder, then one write() of a record of
// `recordBytes` to the open file.
double logSyscallsUs(const std::filesystem::path& folder, size_t recordBytes) {
    const auto file = folder / "syscalls.log";
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ::inotify_add_watch(watch, folder.c_str(), IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO);
    const int poll = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event interest{};
    interest.events = EPOLLIN;
    ::epoll_ctl(poll, EPOLL_CTL_ADD, watch, &interest);
    const std::string record(recordBytes, 'x');
    constexpr int kLines = 20000;
    const double start = processCpuSeconds();
    for (int i = 0; i < kLines; ++i) {
        epoll_event ready{};
        benchmark::DoNotOptimize(::epoll_wait(poll, &ready, 1, 0));
        benchmark::DoNotOptimize(::write(fd, record.data(), record.size()));
    }
    const double perLine = (processCpuSeconds() - start) / kLines;
    ::close(poll);
    ::close(watch);
    ::close(fd);
    std::error_code ec;
    std::filesystem::remove(file, ec);
    return 2 * perLine * 1e6;
}

void BM_RelayOverFakeLink(benchmark::State& state) {
    ScopedHome home;  // the relay's log lines go to a scratch folder
    Log::reset();
    auto relay = Relay::createWithSensor(FakeSensorLink::create());
    runAgainstPlainTrip(state,
                        [&](const char* cmd) { return relay->sendToSensor(cmd).has_value(); });
    // The size of the relay's records: what one more exchange adds to the log file.
    const auto logFile = Log::fileLogger()->currentPath();
    std::error_code ec;
    const auto before = std::filesystem::file_size(logFile, ec);
    (void)relay->sendToSensor(kCommands[1]);
    const auto after = std::filesystem::file_size(logFile, ec);
    if (!ec && after > before)
        state.counters["log_syscalls_us"] =
            logSyscallsUs(home.path(), static_cast<size_t>(after - before) / 2);
    Log::reset();
}

void BM_RelayOverSimulatedAccessory(benchmark::State& state) {
    ScopedHome home;
    Log::reset();
    auto sim = SimulatedAccessory::create();
    sim->plugIn();
    auto controller = SessionController::create();
    auto relay = Relay::create(controller);
    std::atomic<bool> connected{false};
    controller->connect(sim->sensor(), [&](SensorConnectionStatus s) {
        if (s == SensorConnectionStatus::connected) connected = true;
    });
    while (!connected) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    runAgainstPlainTrip(state,
                        [&](const char* cmd) { return relay->sendToSensor(cmd).has_value(); });
    controller->disconnect(false);
    sim.reset();
    DispatchQueue::main()->sync([] {});
    Log::reset();
}

}  // namespace

BENCHMARK(BM_RelayOverFakeLink)->UseRealTime();
BENCHMARK(BM_RelayOverSimulatedAccessory)->UseRealTime();
