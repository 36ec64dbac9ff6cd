#pragma once

#include <time.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "api/Communication/Relay.hpp"
#include "api/Communication/SessionController.hpp"
#include "sim/SensorCore.hpp"
#include "sim/SimulatedAccessory.hpp"

// Pieces the benchmarks share: CPU time, waiting for listeners, and the bare relay their
// baselines send through.
namespace qz::benchsupport {

// CPU microseconds the calling thread has used.
inline double threadCpuMicros() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

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

// A bare relay over a session opened to a simulated MFi accessory; closed and unplugged at
// the end.
struct BareRelay {
    explicit BareRelay(std::shared_ptr<sim::SensorCore> core = std::make_shared<sim::SensorCore>())
        : accessory(pluggedIn(std::move(core))) {
        controller->connect(accessory->sensor(), [&](SensorConnectionStatus s) {
            if (s == SensorConnectionStatus::connected) opened.hit();
        });
        isOpen = opened.waitFor(1);
    }
    ~BareRelay() {
        controller->disconnect(false);
        accessory->unplug();
    }
    BareRelay(const BareRelay&) = delete;
    BareRelay& operator=(const BareRelay&) = delete;

    static std::shared_ptr<sim::SimulatedAccessory> pluggedIn(
        std::shared_ptr<sim::SensorCore> core) {
        auto accessory = sim::SimulatedAccessory::create(std::move(core));
        accessory->plugIn();
        return accessory;
    }

    std::shared_ptr<sim::SimulatedAccessory> accessory;
    std::shared_ptr<SessionController> controller = SessionController::create();
    std::shared_ptr<Relay> relay = Relay::create(controller);
    Waiter opened;
    bool isOpen = false;
};

}  // namespace qz::benchsupport
