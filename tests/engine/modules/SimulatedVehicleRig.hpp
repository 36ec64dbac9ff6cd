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
#include "api/Gateway/Gateway.hpp"
#include "gateway/SimulatedSensorTest.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"
#include "lib/Scanning/QZEModuleScanner.hpp"
#include "lib/Scanning/QZEnhancedScanner.hpp"
#include "platform/Clock.hpp"
#include "platform/NotificationCenter.hpp"
#include "sim/VehicleProfile.hpp"
#include "support/EngineFakes.hpp"

// A make's simulated vehicle reached the way a scan reaches a car: QZEnhancedScanner ->
// QZEModuleScanner -> module class -> QZEVehicle -> Vehicle -> relay -> MFi session ->
// simulated accessory -> simulated sensor and its modules.
namespace qz::modtest {

// Sleeps pass at once (the time moves on by their length), while waits for another thread run
// in real time: the scans' pauses cost nothing, and the relay still waits for the sensor.
class InstantSleepClock : public testsupport::SkippedSleepsClock {
  public:
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

// A connected gateway on a simulated vehicle, its VIN set as the scan controller does. Sleeps
// cost nothing. The user answers at once: the scanner's key flick (ScanCollector), and a
// module's "PelkInteractionRequired" from the main queue, as an app would.
class SimulatedVehicleTest : public gwtest::SimulatedSensorTest {
  protected:
    void SetUp() override {
        gwtest::SimulatedSensorTest::SetUp();
        prompt = NotificationCenter::defaultCenter().addObserver(
            QZEModuleNotifications::kInteractionRequired, [this](const Notification&) {
                ++modulePrompts;
                DispatchQueue::main()->async([] {
                    NotificationCenter::defaultCenter().post(
                        QZEModuleNotifications::kInteractionComplete);
                });
            });
    }
    void TearDown() override {
        NotificationCenter::defaultCenter().removeObserver(prompt);
        gwtest::drainQueues();
        gwtest::SimulatedSensorTest::TearDown();
    }

    // A profile of sim/profiles.
    static sim::VehicleProfile profileNamed(const std::string& file) {
        return sim::VehicleProfile::load(sim::VehicleProfile::sampleFolder() / file);
    }
    void connectTo(const std::string& profileFile) { connectTo(profileNamed(profileFile)); }
    void connectTo(sim::VehicleProfile profile) {
        const std::string vin = profile.vin;
        gateway = Gateway::create();
        connectGateway(std::move(profile));
        if (HasFatalFailure()) return;
        gateway->vehicle()->setCurrentVin(vin);
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
        EXPECT_GE(expected, minimumReads) << "the scan set-up failed";
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
        gwtest::drainQueues();
        return ok;
    }

    // The sensor settings a scan must leave as it found them.
    std::string sensorState() const {
        return "protocol " + core->protocol() + ", header " + core->header() + ", pins " +
               core->pins() + (core->headers() ? ", headers" : "") +
               (core->multiResponse() ? ", multiple responses" : "");
    }

    std::shared_ptr<InstantSleepClock> clock = std::make_shared<InstantSleepClock>();
    ScopedClock instantSleeps{clock};
    // The module reads a scan must expect at the least.
    int64_t minimumReads = 1;
    // Key flicks asked in the last scan, and module prompts so far.
    int lastInteractions = 0;
    std::atomic<int> modulePrompts{0};
    ObserverToken prompt{};
};

}  // namespace qz::modtest
