// A whole connect of the gateway (session opened, start-up commands, state reported on the
// main queue, disconnect reported) over the simulated MFi accessory, beside a baseline measured
// in the same run that does the same file work plainly: the same start-up commands through a
// bare relay over the same kind of accessory session, as many settings-file writes (a
// temporary file synced and renamed into place) and as many encrypted log records appended to
// an open file as the gateway's connects made. Counters: baseline_us, gateway_us, ratio
// (gateway / baseline), and the file work per connect.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

#include "api/Communication/PelkSensorState.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/Gateway/Gateway.hpp"
#include "api/Logging/FileLog.hpp"
#include "api/Logging/Log.hpp"
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

// Records in the library's log files.
size_t logRecords() {
    size_t records = 0;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(Log::fileLogger()->directory(), ec)) {
        std::ifstream in(e.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        for (size_t i = 0; i + 3 <= bytes.size() && static_cast<uint8_t>(bytes[i]) == 0xBD;
             ++records)
            i += 3 + ((static_cast<size_t>(static_cast<uint8_t>(bytes[i + 1])) << 8) |
                      static_cast<uint8_t>(bytes[i + 2]));
    }
    return records;
}

// Microseconds per start-up done plainly: the start-up commands through a bare relay over an
// open accessory session, `settingsWrites` settings files written and `logRecords` records
// encrypted and appended.
double baselineMicros(int rounds, int settingsWrites, int records) {
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
    const auto folder = Paths::home() / "plain";
    std::filesystem::create_directories(folder);
    const std::string settings(300, 's');
    const std::string line(120, 'l');
    unsigned char key[32] = {1}, iv[16] = {2}, record[400];
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key, iv);
    int log = ::open((folder / "log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) {
        for (const char* cmd : {"KQD", "KQI", "KQDP"})
            benchmark::DoNotOptimize(relay->sendToSensor(cmd));
        for (int w = 0; w < settingsWrites; ++w) {
            const auto temp = folder / "settings.json.tmp";
            int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            benchmark::DoNotOptimize(::write(fd, settings.data(), settings.size()));
            ::fsync(fd);
            ::close(fd);
            std::filesystem::rename(temp, folder / "settings.json");
        }
        for (int r = 0; r < records; ++r) {
            int n = 0, m = 0;
            EVP_EncryptInit_ex(ctx, nullptr, nullptr, nullptr, iv);
            EVP_EncryptUpdate(ctx, record + 3, &n,
                              reinterpret_cast<const unsigned char*>(line.data()),
                              static_cast<int>(line.size()));
            EVP_EncryptFinal_ex(ctx, record + 3 + n, &m);
            benchmark::DoNotOptimize(::write(log, record, static_cast<size_t>(n + m + 3)));
        }
    }
    auto elapsed = std::chrono::steady_clock::now() - start;
    ::close(log);
    EVP_CIPHER_CTX_free(ctx);
    controller->disconnect(false);
    accessory->unplug();
    return std::chrono::duration<double, std::micro>(elapsed).count() / rounds;
}

void BM_GatewayConnect(benchmark::State& state) {
    ScopedHome home;
    Log::reset();
    auto accessory = SimulatedAccessory::create();
    accessory->plugIn();
    auto gateway = Gateway::create();
    auto sensor = gateway->connectedDevices().at(0);
    // Settings files written while connecting (each write is a new temporary file, closed and
    // then renamed over the suite's file).
    Paths::createDirectories(Paths::preferencesDirectory());
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ::inotify_add_watch(watch, Paths::preferencesDirectory().c_str(), IN_CLOSE_WRITE);
    const size_t recordsBefore = logRecords();
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
    gateway.reset();
    accessory->unplug();
    const auto connects =
        static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
    size_t settingsFiles = 0;
    alignas(struct inotify_event) char events[4096];
    for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;)
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<struct inotify_event*>(events + at);
            settingsFiles += event->len > 0 &&
                             std::string_view(event->name).find(".tmp-") != std::string_view::npos;
            at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
        }
    ::close(watch);
    const int settingsWrites =
        static_cast<int>(static_cast<double>(settingsFiles) / connects + 0.5);
    const int records =
        static_cast<int>(static_cast<double>(logRecords() - recordsBefore) / connects + 0.5);
    const double perConnect = std::chrono::duration<double, std::micro>(elapsed).count() / connects;
    const double baseline = baselineMicros(static_cast<int>(connects), settingsWrites, records);
    state.counters["baseline_us"] = baseline;
    state.counters["gateway_us"] = perConnect;
    state.counters["ratio"] = baseline > 0 ? perConnect / baseline : 0;
    state.counters["settings_writes"] = settingsWrites;
    state.counters["log_records"] = records;
    state.counters["failures"] = static_cast<double>(failures);
    Log::reset();
}

}  // namespace

BENCHMARK(BM_GatewayConnect)->Unit(benchmark::kMicrosecond)->Iterations(200);
