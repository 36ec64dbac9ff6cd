#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "api/Communication/Vehicle.hpp"
#include "gateway/SimulatedSensorTest.hpp"
#include "lib/Scanning/QZEModuleScanner.hpp"
#include "lib/Scanning/QZEnhancedScanner.hpp"
#include "platform/Clock.hpp"
#include "sim/VehicleProfile.hpp"

// A make's simulated vehicle reached the way a scan reaches a car: QZEnhancedScanner ->
// QZEModuleScanner -> module class -> QZEVehicle -> Vehicle -> relay -> MFi session ->
// simulated accessory -> simulated sensor and its modules.
namespace qz::modtest {

// Sleeps pass at once (the time moves on by their length), while waits for another thread run
// in real time: the scans' pauses cost nothing, and the relay still waits for the sensor.
class InstantSleepClock : public Clock {
  public:
    TimePoint now() const override { return std::chrono::steady_clock::now() + offset(); }
    WallTimePoint wallNow() const override {
        return std::chrono::system_clock::now() +
               std::chrono::duration_cast<std::chrono::system_clock::duration>(offset());
    }
    void sleepFor(double seconds) override {
        if (seconds <= 0) return;
        std::lock_guard lock(mutex_);
        offset_ += toDuration(seconds);
        slept_ += seconds;
    }
    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   TimePoint deadline, const std::function<bool()>& pred) override {
        while (!pred()) {
            const auto real = deadline - offset();
            if (std::chrono::steady_clock::now() >= real) return pred();
            cv.wait_until(lock, std::min(real, std::chrono::steady_clock::now() +
                                                   std::chrono::milliseconds(50)));
        }
        return true;
    }
    // Seconds slept so far.
    double slept() const {
        std::lock_guard lock(mutex_);
        return slept_;
    }

  private:
    Duration offset() const {
        std::lock_guard lock(mutex_);
        return offset_;
    }
    mutable std::mutex mutex_;
    Duration offset_{};
    double slept_ = 0;
};

// Collects the modules a scan reports and completes every interaction it asks for.
class ScanCollector : public QZEEnhancedScannerDelegate {
  public:
    void scannedModule(const QZEModuleDataPtr& module) override {
        std::lock_guard lock(mutex_);
        modules_.push_back(module);
    }
    void interactionRequired(const std::string& message) override {
        ++interactions;
        if (auto s = scanner.lock()) s->interactionComplete();
    }
    std::vector<QZEModuleDataPtr> modules() const {
        std::lock_guard lock(mutex_);
        return modules_;
    }
    std::weak_ptr<QZEnhancedScanner> scanner;
    std::atomic<int> interactions{0};

  private:
    mutable std::mutex mutex_;
    std::vector<QZEModuleDataPtr> modules_;
};

// "<bus key>/<acronym>" of a module.
inline std::string moduleKey(const QZEModuleData& module) {
    return module.busType().value_or("") + "/" + module.accronym().value_or("");
}

// A connected gateway on a profile of sim/profiles, its VIN set as the scan controller does.
class SimulatedVehicleTest : public gwtest::SimulatedSensorTest {
  protected:
    void connectTo(const std::string& profileFile) {
        auto profile = sim::VehicleProfile::load(sim::VehicleProfile::sampleFolder() / profileFile);
        const std::string vin = profile.vin;
        gateway = Gateway::create();
        plugIn(std::move(profile));
        auto devices = gateway->connectedDevices();
        ASSERT_EQ(devices.size(), 1u);
        gwtest::Received<PelkSensorState> states;
        gateway->connect(devices.front(), states.callback());
        ASSERT_TRUE(states.waitFor(1));
        ASSERT_EQ(gateway->status(), SensorConnectionStatus::connected);
        gwtest::drainQueues();
        gateway->vehicle()->setCurrentVin(vin);
        core->clearCommands();
    }

    // Runs a whole module scan on "GatewayQueue"; the modules reported.
    std::vector<QZEModuleDataPtr> scan(int64_t scanType) {
        auto collector = std::make_shared<ScanCollector>();
        auto scanner = std::make_shared<QZEnhancedScanner>();
        collector->scanner = scanner;
        scanner->setDelegate(collector);
        int64_t expected = 0;
        Gateway::gatewayQueue()->sync([&] {
            expected = scanner->loadScan(scanType);
            scanner->startScan(scanType);
        });
        gwtest::drainQueues();
        EXPECT_GT(expected, 0) << "the scan set-up failed";
        lastInteractions = collector->interactions;
        return collector->modules();
    }

    // Clears one reported module as the gateway's clear does.
    bool clear(const QZEModuleDataPtr& module) {
        bool ok = false;
        Gateway::gatewayQueue()->sync([&] {
            QZEModuleScanner scanner;
            scanner.prepareForClear();
            ok = scanner.clearModule(module, std::stoll(module->busType().value_or("0")));
        });
        return ok;
    }

    // The sensor settings a scan must leave as it found them.
    std::string sensorState() const {
        return "protocol " + core->protocol() + ", header " + core->header() + ", pins " +
               core->pins() + (core->headers() ? ", headers" : "") +
               (core->multiResponse() ? ", multiple responses" : "");
    }

    ScopedClock instantSleeps{std::make_shared<InstantSleepClock>()};
    int lastInteractions = 0;
};

}  // namespace qz::modtest
