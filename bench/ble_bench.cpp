// Bluetooth LE over the simulated BGX13 module, in process.
//
// BM_RelayOverSimulatedBGX13: relay exchanges per second through the session controller, the BLE
// session, the BGX13 driver and the simulated central to the module and its sensor core; beside
// the sensor core answering directly (direct_us) and the relay over the fake sensor link, which
// hands answers over on the main queue just as the central does (link_us), both measured in the
// same run. ble_us is the BLE stack's time per exchange on top of that link: the session's hop to
// the driver's queue, the driver, the credit messages and the simulated radio.
//
// BM_BulkWriteWithFastAck: one 64 KiB writeData with fast acknowledgement (244-byte writes, the
// module's 2048-byte credit, credit returned per write), beside a plain loop that cuts the same
// bytes into 244-byte chunks for a sink (plain_us). chunk_overhead_us is the driver's time per
// chunk on top of the plain loop.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "api/Communication/Relay.hpp"
#include "api/Communication/SessionController.hpp"
#include "bgx/BGXDevice.hpp"
#include "bgx/BGXScanner.hpp"
#include "platform/Console.hpp"
#include "platform/DispatchQueue.hpp"
#include "sim/FakeSensorLink.hpp"
#include "sim/SimulatedBluetooth.hpp"

using namespace qz;
using namespace qz::sim;

namespace {

const char* const kCommands[] = {"KQI", "010C", "0100", "KQDP"};
constexpr size_t kCommandCount = sizeof(kCommands) / sizeof(kCommands[0]);
constexpr size_t kBulkBytes = 64 * 1024;
constexpr size_t kChunk = 244;

double micros(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

void waitUntil(const std::function<bool()>& done) {
    while (!done()) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

// Microseconds per exchange of the sensor core alone.
double directMicros() {
    SensorCore core;
    constexpr int kRounds = 20000;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) {
        std::string text;
        for (const auto& out :
             core.receive(scramble(std::string(kCommands[i % kCommandCount]) + "\r")))
            if (out.kind == Output::Kind::Bytes) text += scrambleToString(out.bytes);
        benchmark::DoNotOptimize(text);
    }
    return micros(std::chrono::steady_clock::now() - start) / kRounds;
}

// Microseconds per relay exchange over the fake sensor link.
double linkMicros() {
    auto relay = Relay::createWithSensor(FakeSensorLink::create());
    constexpr int kRounds = 4000;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i)
        benchmark::DoNotOptimize(relay->sendToSensor(kCommands[i % kCommandCount]));
    return micros(std::chrono::steady_clock::now() - start) / kRounds;
}

void BM_RelayOverSimulatedBGX13(benchmark::State& state) {
    auto quiet = console::setSink(nullptr);
    auto world = SimulatedBluetooth::create();
    SimulatedBluetooth::Installation installation(world);
    SimulatedBGX13::Options options;
    options.record = false;
    auto module = SimulatedBGX13::create(std::make_shared<SensorCore>(), options);
    world->add(module);
    auto controller = SessionController::create();
    auto relay = Relay::create(controller);
    auto le = controller->leController();
    waitUntil([&] { return !le->discoveredDevices().empty(); });
    std::atomic<bool> connected{false};
    controller->connect(le->discoveredDevices().front(), [&](SensorConnectionStatus s) {
        if (s == SensorConnectionStatus::connected) connected = true;
    });
    waitUntil([&] { return connected.load(); });

    const double direct = directMicros();
    const double link = linkMicros();
    size_t i = 0;
    size_t failures = 0;
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        if (!relay->sendToSensor(kCommands[i++ % kCommandCount])) ++failures;
    const double perExchange =
        micros(std::chrono::steady_clock::now() - start) /
        static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
    state.counters["exchanges_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["direct_us"] = direct;
    state.counters["link_us"] = link;
    state.counters["exchange_us"] = perExchange;
    state.counters["ble_us"] = perExchange - link;
    state.counters["ratio"] = direct > 0 ? perExchange / direct : 0;
    state.counters["failures"] = static_cast<double>(failures);

    controller->disconnect(true);
    DispatchQueue::main()->sync([] {});
    console::setSink(quiet);
}

// Counts completed writes.
class WriteDone : public BGXScanDelegate, public BGXSerialDelegate {
  public:
    void deviceDiscovered(const std::shared_ptr<BGXDevice>& d) override {
        std::lock_guard lock(mutex);
        if (!device) device = d;
    }
    void busModeChanged(BusMode, const std::shared_ptr<BGXDevice>&) override {}
    void dataRead(const Data&, const std::shared_ptr<BGXDevice>&) override {}
    void dataWrittenForDevice(const std::shared_ptr<BGXDevice>&) override {
        {
            std::lock_guard lock(mutex);
            ++written;
        }
        cv.notify_all();
    }
    void waitFor(int n) {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return written >= n; });
    }
    std::mutex mutex;
    std::condition_variable cv;
    int written = 0;
    std::shared_ptr<BGXDevice> device;
};

// Microseconds to cut the bulk into chunks for a sink that takes each at once.
double plainChunkingMicros(const Data& payload) {
    constexpr int kRounds = 200;
    size_t sunk = 0;
    auto start = std::chrono::steady_clock::now();
    for (int r = 0; r < kRounds; ++r) {
        for (size_t at = 0; at < payload.size(); at += kChunk) {
            Data chunk(payload.begin() + static_cast<std::ptrdiff_t>(at),
                       payload.begin() +
                           static_cast<std::ptrdiff_t>(std::min(at + kChunk, payload.size())));
            sunk += chunk.size();
            benchmark::DoNotOptimize(chunk);
        }
    }
    benchmark::DoNotOptimize(sunk);
    return micros(std::chrono::steady_clock::now() - start) / kRounds;
}

void BM_BulkWriteWithFastAck(benchmark::State& state) {
    auto quiet = console::setSink(nullptr);
    auto world = SimulatedBluetooth::create();
    SimulatedBluetooth::Installation installation(world);
    SimulatedBGX13::Options options;
    options.record = false;
    options.feedsSensor = false;
    auto module = SimulatedBGX13::create(std::make_shared<SensorCore>(), options);
    world->add(module);
    auto done = std::make_shared<WriteDone>();
    auto scanner = BGXScanner::create(DispatchQueue::main(), done);
    waitUntil([&] { return scanner->scanState() == ScanState::Idle; });
    scanner->startScan();
    waitUntil([&] {
        std::lock_guard lock(done->mutex);
        return done->device != nullptr;
    });
    auto device = done->device;
    device->setSerialDelegate(done);
    device->connect();
    waitUntil(
        [&] { return device->deviceState() == DeviceState::Connected && device->canWrite(); });

    Data payload(kBulkBytes);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i);
    const double plain = plainChunkingMicros(payload);
    int n = 0;
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        // The credit of the last write comes back before the next one starts.
        waitUntil([&] { return device->fastAckTxBytes() == options.receiveBuffer; });
        if (!device->writeData(payload)) state.SkipWithError("write refused");
        done->waitFor(++n);
    }
    const double perWrite =
        micros(std::chrono::steady_clock::now() - start) /
        static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
    const double chunks = static_cast<double>((kBulkBytes + kChunk - 1) / kChunk);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(kBulkBytes));
    state.counters["write_us"] = perWrite;
    state.counters["plain_us"] = plain;
    state.counters["ratio"] = plain > 0 ? perWrite / plain : 0;
    state.counters["chunk_overhead_us"] = (perWrite - plain) / chunks;
    state.counters["overrun_bytes"] = static_cast<double>(module->creditOverrun());

    device->disconnect();
    DispatchQueue::main()->sync([] {});
    console::setSink(quiet);
}

// Every central of the benchmark program is a simulated one unless a benchmark installs its own
// world: no benchmark reaches the machine's Bluetooth stack.
const SimulatedBluetooth::Installation kNoBluetooth(SimulatedBluetooth::create());

}  // namespace

BENCHMARK(BM_RelayOverSimulatedBGX13)->UseRealTime();
BENCHMARK(BM_BulkWriteWithFastAck)->UseRealTime();
