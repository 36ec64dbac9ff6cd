#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "api/Communication/LESessionController.hpp"
#include "api/Communication/PelkNotifications.hpp"
#include "api/Communication/SensorReceiver.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/Gateway/Gateway.hpp"
#include "api/Logging/Log.hpp"
#include "bgx/BGXDevice.hpp"
#include "bgx/BGXScanner.hpp"
#include "platform/Clock.hpp"
#include "platform/Console.hpp"
#include "platform/FileSystem.hpp"
#include "platform/NotificationCenter.hpp"
#include "sim/SimTestSupport.hpp"
#include "sim/SimulatedBluetooth.hpp"

namespace qz::bletest {

using simtest::drainMain;
using simtest::eventually;

// Module options changed by `edit`.
template <class F>
sim::SimulatedBGX13::Options options(F&& edit) {
    sim::SimulatedBGX13::Options o;
    edit(o);
    return o;
}

// Records what the driver tells its three delegates.
class Recorder : public BGXScanDelegate, public BGXDeviceDelegate, public BGXSerialDelegate {
  public:
    void bluetoothStateChanged(int state) override { add(bluetoothStates, state); }
    void deviceDiscovered(const std::shared_ptr<BGXDevice>& device) override {
        add(discovered, device);
    }
    void scanStateChanged(ScanState state) override { add(scanStates, state); }
    void connectionTimeoutForDevice(const std::shared_ptr<BGXDevice>&) override {
        add(timeouts, 1);
    }
    void stateChangedForDevice(const std::shared_ptr<BGXDevice>& device) override {
        add(states, device->deviceState());
    }
    void rssiChangedForDevice(const std::shared_ptr<BGXDevice>& device) override {
        add(rssis, device->rssi());
    }
    void notifyForDisconnectionError(const BleError& error) override { add(errors, error.code); }
    void busModeChanged(BusMode mode, const std::shared_ptr<BGXDevice>&) override {
        add(busModes, mode);
    }
    void dataRead(const Data& data, const std::shared_ptr<BGXDevice>&) override {
        if (onData) onData(data);
        add(reads, data);
    }
    void dataWrittenForDevice(const std::shared_ptr<BGXDevice>&) override { add(written, 1); }

    template <class T>
    std::vector<T> get(const std::vector<T>& field) const {
        std::lock_guard lock(mutex_);
        return field;
    }
    template <class T>
    size_t count(const std::vector<T>& field) const {
        return get(field).size();
    }

    std::vector<int> bluetoothStates;
    std::vector<std::shared_ptr<BGXDevice>> discovered;
    std::vector<ScanState> scanStates;
    std::vector<int> timeouts;
    std::vector<DeviceState> states;
    std::vector<int> rssis;
    std::vector<int> errors;
    std::vector<BusMode> busModes;
    std::vector<Data> reads;
    std::vector<int> written;
    std::function<void(const Data&)> onData;  // runs before the chunk is recorded

  private:
    template <class T, class U>
    void add(std::vector<T>& field, U&& value) {
        std::lock_guard lock(mutex_);
        field.push_back(std::forward<U>(value));
    }
    mutable std::mutex mutex_;
};

// An observer of the default centre for the life of the object: a test that stops early leaves
// none behind to call into what it captured.
class ScopedObserver {
  public:
    ScopedObserver(const std::string& name, NotificationCenter::Observer fn)
        : token_(NotificationCenter::defaultCenter().addObserver(name, std::move(fn))) {}
    ~ScopedObserver() { NotificationCenter::defaultCenter().removeObserver(token_); }
    ScopedObserver(const ScopedObserver&) = delete;
    ScopedObserver& operator=(const ScopedObserver&) = delete;

  private:
    ObserverToken token_;
};

// Collects the driver's console lines for the life of the object; `onLine`, when given, sees
// each line first (on the logging thread).
class ConsoleLines {
  public:
    explicit ConsoleLines(std::function<void(const std::string&)> onLine = {})
        : previous_(console::setSink([this, onLine](const std::string& line) {
              if (onLine) onLine(line);
              std::lock_guard lock(mutex_);
              lines_.push_back(line);
          })) {}
    ~ConsoleLines() { console::setSink(previous_); }
    size_t containing(const std::string& text) const {
        std::lock_guard lock(mutex_);
        size_t n = 0;
        for (const auto& l : lines_) n += l.find(text) != std::string::npos;
        return n;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    console::Sink previous_;
};

// A simulated world of its own with one BGX13 module in front of a sensor core.
class BleWorldTest : public ::testing::Test {
  protected:
    void TearDown() override { drainMain(); }

    std::shared_ptr<sim::SimulatedBGX13> addModule(sim::SimulatedBGX13::Options options = {}) {
        auto core = std::make_shared<sim::SensorCore>();
        auto m = sim::SimulatedBGX13::create(core, std::move(options));
        world->add(m);
        return m;
    }

    std::shared_ptr<sim::SimulatedBluetooth> world = sim::SimulatedBluetooth::create();
    sim::SimulatedBluetooth::Installation installation{world};
};

// The session controller over the world, in a home of its own with a fresh log: the
// broadcasts it reports and the "DeviceDisconnected" posts are counted.
class SessionWorldTest : public BleWorldTest {
  protected:
    explicit SessionWorldTest(std::shared_ptr<Clock> time = std::make_shared<ScaledClock>(0.05))
        : clock(std::move(time)) {}
    void SetUp() override {
        Log::reset();
        controller->setBroadcastListener(broadcasts.listener());
        disconnectedToken = NotificationCenter::defaultCenter().addObserver(
            PelkNotifications::SENSOR_DISCONNECTED, [this](const Notification&) { ++posted; });
    }
    void TearDown() override {
        NotificationCenter::defaultCenter().removeObserver(disconnectedToken);
        controller->disconnect(true);
        drainMain();
        Gateway::gatewayQueue()->sync([] {});
        BleWorldTest::TearDown();
        Log::reset();
    }
    std::shared_ptr<LESessionController> session() const {
        return std::static_pointer_cast<LESessionController>(controller->leController());
    }

    ScopedHome home;
    ScopedClock clock;
    std::shared_ptr<SessionController> controller = SessionController::create();
    simtest::BroadcastLog broadcasts;
    std::atomic<int> posted{0};
    ObserverToken disconnectedToken = 0;
};

// Collects every chunk the session hands on.
class Chunks : public SensorReceiver {
  public:
    void received(const std::string& response) override {
        std::lock_guard lock(mutex_);
        chunks_.push_back(response);
    }
    std::vector<std::string> chunks() const {
        std::lock_guard lock(mutex_);
        return chunks_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> chunks_;
};

// The driver on its own: a scanner with a recorder as every delegate.
class DriverTest : public BleWorldTest {
  protected:
    // A scanner that scans once Bluetooth is up, and the device of the first discovery.
    std::shared_ptr<BGXDevice> discover() {
        scanner = BGXScanner::create(DispatchQueue::main(), recorder);
        EXPECT_TRUE(eventually([&] { return scanner->scanState() == ScanState::Idle; }));
        scanner->startScan();
        EXPECT_TRUE(eventually([&] { return recorder->count(recorder->discovered) >= 1; }));
        auto device = recorder->get(recorder->discovered).at(0);
        device->setDeviceDelegate(recorder);
        device->setSerialDelegate(recorder);
        return device;
    }
    // Discovers and connects; waits until the delegate has heard of `Connected` (the state is
    // set before the delegate is told).
    std::shared_ptr<BGXDevice> connected() {
        auto device = discover();
        device->connect();
        EXPECT_TRUE(eventually([&] {
            auto states = recorder->get(recorder->states);
            return !states.empty() && states.back() == DeviceState::Connected;
        }));
        return device;
    }

    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::shared_ptr<BGXScanner> scanner;
};

}  // namespace qz::bletest
