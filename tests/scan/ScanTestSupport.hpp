#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "api/Communication/Vehicle.hpp"
#include "api/Gateway/Gateway.hpp"
#include "api/Scan/PelkScanProgress.hpp"
#include "engine/modules/SimulatedVehicleRig.hpp"
#include "gateway/SimulatedSensorTest.hpp"
#include "platform/DispatchQueue.hpp"
#include "sim/SimulatedBGX13.hpp"
#include "sim/SimulatedBluetooth.hpp"

// Scans and clears through the gateway, the MFi or BLE session and the simulated vehicle.
namespace qz::scantest {

using Texts = std::vector<std::string>;
using gwtest::QueueGate;

// What a scan listener receives, with the thread of each value; answers interactions with
// `onInteraction` (on the listener's thread) when it is set.
class ScanRecorder {
  public:
    struct Entry {
        PelkScanProgress value;
        bool onGatewayQueue;
    };

    PelkScanDelegate::ScanListener listener() {
        return [state = state_](PelkScanProgress value) {
            std::function<void(const InteractionType&)> answer;
            {
                std::lock_guard lock(state->mutex);
                state->entries.push_back({value, DispatchQueue::currentLabel() == "GatewayQueue"});
                answer = state->onInteraction;
            }
            state->cv.notify_all();
            if (answer && value.interaction()) answer(*value.interaction());
        };
    }
    void onInteraction(std::function<void(const InteractionType&)> answer) {
        std::lock_guard lock(state_->mutex);
        state_->onInteraction = std::move(answer);
    }
    // Waits (real time, a bound never meant to expire) for the scan's last value: a complete,
    // or an error other than enhancedUnsupported.
    std::optional<PelkScanProgress> waitForEnd(double seconds = 120) {
        return waitFor([](const PelkScanProgress& p) { return isEnd(p); }, seconds);
    }
    std::optional<PelkScanProgress> waitFor(std::function<bool(const PelkScanProgress&)> match,
                                            double seconds = 120) {
        std::unique_lock lock(state_->mutex);
        std::optional<PelkScanProgress> found;
        state_->cv.wait_for(lock, std::chrono::duration<double>(seconds), [&] {
            for (const auto& e : state_->entries)
                if (match(e.value)) {
                    found = e.value;
                    return true;
                }
            return false;
        });
        return found;
    }
    std::vector<Entry> entries() const {
        std::lock_guard lock(state_->mutex);
        return state_->entries;
    }
    std::vector<float> updates() const {
        std::vector<float> out;
        for (const auto& e : entries())
            if (e.value.kind() == PelkScanProgress::Kind::update)
                out.push_back(e.value.percentage());
        return out;
    }
    // The kinds in order ("update", "complete", "error:deviceBusy", "interactionRequired").
    Texts kinds() const;
    static bool isEnd(const PelkScanProgress& p) {
        if (p.kind() == PelkScanProgress::Kind::complete) return true;
        return p.kind() == PelkScanProgress::Kind::error &&
               p.error()->kind() != PelkScanError::Kind::enhancedUnsupported;
    }

  private:
    struct State {
        std::mutex mutex;
        std::condition_variable cv;
        std::vector<Entry> entries;
        std::function<void(const InteractionType&)> onInteraction;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

inline Texts ScanRecorder::kinds() const {
    Texts out;
    for (const auto& e : entries()) {
        switch (e.value.kind()) {
            case PelkScanProgress::Kind::update:
                out.push_back("update");
                break;
            case PelkScanProgress::Kind::complete:
                out.push_back(*e.value.result()
                                  ? "complete"
                                  : "complete:" + describe(e.value.result()->error()));
                break;
            case PelkScanProgress::Kind::error:
                out.push_back("error:" + describe(*e.value.error()));
                break;
            case PelkScanProgress::Kind::interactionRequired:
                out.push_back("interactionRequired");
                break;
        }
    }
    return out;
}

// The modules of a successful end (empty otherwise).
inline PelkModules modulesOf(const std::optional<PelkScanProgress>& end) {
    if (!end || !end->result() || !*end->result()) return {};
    return **end->result();
}

// "<acronym>: <code> <status>, ..." per module, codes as the module holds them.
inline Texts moduleLines(const PelkModules& modules) {
    Texts out;
    for (const auto& m : modules) {
        std::string line = m->acronym() + ":";
        for (const auto& c : m->results())
            line += " " + c->code() + (c->status().empty() ? "" : "/" + c->status());
        out.push_back(line);
    }
    return out;
}

// How often `part` stands in `text`.
inline size_t occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The sample vehicles that have manufacturer modules, by file name, in order.
inline std::vector<std::string> profilesWithModules() {
    std::vector<std::string> out;
    for (const auto& entry :
         std::filesystem::directory_iterator(sim::VehicleProfile::sampleFolder()))
        if (entry.path().extension() == ".json" &&
            !sim::VehicleProfile::load(entry.path()).modules.empty())
            out.push_back(entry.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

// A test's name for a sample vehicle: the file's stem, every character but letters and digits
// as '_'.
inline std::string profileTestName(const ::testing::TestParamInfo<std::string>& info) {
    std::string name = std::filesystem::path(info.param).stem().string();
    std::replace_if(
        name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
    return name;
}

// Sleeps pass at once; a wait that is not answered lasts `factor` of its length in real time,
// after which the time has moved on to its deadline. For tests in which the sensor stays
// silent: its time-outs cost little, while answers still have ample time.
class QuickClock : public testsupport::SkippedSleepsClock {
  public:
    explicit QuickClock(double factor) : factor_(factor) {}
    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   TimePoint deadline, const std::function<bool()>& pred) override {
        const auto remaining = deadline - now();
        const auto realEnd = std::chrono::steady_clock::now() +
                             std::chrono::duration_cast<Duration>(remaining * factor_);
        while (!pred()) {
            if (std::chrono::steady_clock::now() >= realEnd) {
                catchUp(deadline);
                return pred();
            }
            cv.wait_until(lock, realEnd);
        }
        return true;
    }

  private:
    const double factor_;
};

// One analytics event the backend received.
struct Event {
    std::string type;
    nlohmann::json body;
    std::string text;  // the body as posted
};

// The session a test reaches the simulated sensor through.
enum class Transport { mfi, ble };

inline std::string transportName(const ::testing::TestParamInfo<Transport>& info) {
    return info.param == Transport::ble ? "ble" : "mfi";
}

inline void PrintTo(Transport transport, std::ostream* os) {
    *os << (transport == Transport::ble ? "ble" : "mfi");
}

// A gateway connected to the simulated vehicle, a backend that records analytics events, and
// scans and clears through the public calls. Sleeps pass at once after connecting.
class ScanTest : public gwtest::SimulatedSensorTest {
  protected:
    void SetUp() override {
        SimulatedSensorTest::SetUp();
        srv.server.Post(R"(/api/v2/analytics/(\w+))", [this](const httplib::Request& req,
                                                             httplib::Response& res) {
            std::unique_lock lock(eventsMutex);
            const std::string type = req.matches[1].str();
            events.push_back({type, nlohmann::json::parse(req.body, nullptr, false), req.body});
            eventsChanged.notify_all();
            // A held event is taken and not answered yet.
            eventsChanged.wait(lock, [&] { return heldEvent != type; });
            res.status = backendStatus;
        });
        startServer();
    }
    void TearDown() override {
        answerBackend(backendStatus);
        gwtest::drainQueues();
        scanClock.reset();
        SimulatedSensorTest::TearDown();
    }

    // The clock of the scans: sleeps pass at once; unanswered waits last their length (the
    // sensor answers every command) or, `quick`, a tenth of it (the sensor falls silent).
    enum class Waits { real, quick };

    // Plugs the vehicle in and connects over `transport`; the scan clock runs from then on.
    void connectTo(sim::VehicleProfile profile, Waits waits = Waits::real) {
        if (transport == Transport::ble) {
            // The simulated radio world is in place before the gateway's BLE session starts.
            if (!bluetooth) bluetooth.emplace(sim::SimulatedBluetooth::create());
            gateway = Gateway::create();
            core = std::make_shared<sim::SensorCore>(std::move(profile));
            module = sim::SimulatedBGX13::create(core);
            bluetooth->world()->add(module);
            ASSERT_NO_FATAL_FAILURE(connectBle());
            core->clearCommands();
        } else {
            gateway = Gateway::create();
            connectGateway(std::move(profile));
        }
        if (waits == Waits::real)
            scanClock.emplace(std::make_shared<modtest::InstantSleepClock>());
        else
            scanClock.emplace(std::make_shared<QuickClock>(0.1));
    }
    void connectTo(const std::string& sampleProfile, Waits waits = Waits::real) {
        connectTo(sim::VehicleProfile::load(sim::VehicleProfile::sampleFolder() / sampleProfile),
                  waits);
    }

    // Connects the BLE sensor the gateway lists.
    void connectBle() {
        auto sensor = gwtest::listedSensor(
            *gateway, [](const PelkSensor& s) { return s.sensorType().isLe(); });
        ASSERT_TRUE(sensor);
        ASSERT_NO_FATAL_FAILURE(connectInitialized(sensor));
    }
    // Connects `sensor` and waits until it reports itself initialized; the queues are drained.
    void connectInitialized(const std::shared_ptr<PelkSensor>& sensor) {
        gwtest::Received<PelkSensorState> states;
        gateway->connect(sensor, states.callback());
        ASSERT_TRUE(states.waitFor(1));
        ASSERT_EQ(states.at(0).value,
                  PelkSensorState::onSensorConnected(PelkSensorStatus::initialized));
        gwtest::drainQueues();
    }
    // Connects the one sensor listed again (its start-up runs anew).
    void reconnectListed() {
        auto devices = gateway->connectedDevices();
        ASSERT_EQ(devices.size(), 1u);
        ASSERT_NO_FATAL_FAILURE(connectInitialized(devices.front()));
    }

    // A whole scan; its last value.
    std::optional<PelkScanProgress> scan(PelkScanType type, std::optional<std::string> vin,
                                         ScanRecorder& recorder) {
        gateway->performScan(std::move(vin), type, recorder.listener());
        return recorder.waitForEnd();
    }
    std::optional<PelkScanProgress> scan(PelkScanType type, std::optional<std::string> vin) {
        ScanRecorder recorder;
        return scan(type, std::move(vin), recorder);
    }
    PelkClearResult clear(const std::shared_ptr<PelkModule>& module) {
        gwtest::Received<PelkClearResult> result;
        gateway->clearModule(module, result.callback());
        EXPECT_TRUE(result.waitFor(1, 120));
        return result.size() ? result.at(0).value
                             : PelkClearResult::error(PelkClearError::deviceBusy());
    }
    // Waits for `n` events in all.
    std::vector<Event> waitForEvents(size_t n) {
        std::unique_lock lock(eventsMutex);
        eventsChanged.wait_for(lock, std::chrono::seconds(60), [&] { return events.size() >= n; });
        return events;
    }
    // The commands sent to the sensor that are exactly `command`.
    size_t sent(const std::string& command) const {
        size_t n = 0;
        for (const auto& c : core->commands()) n += c == command;
        return n;
    }

    // The backend takes events of `type` and answers none of them until answerBackend. (One
    // type only: httplib's first request must be served alone, or ThreadSanitizer reports the
    // library's own set-up.)
    void holdBackend(const std::string& type) {
        std::lock_guard lock(eventsMutex);
        heldEvent = type;
    }
    void answerBackend(int status) {
        {
            std::lock_guard lock(eventsMutex);
            heldEvent.clear();
            backendStatus = status;
        }
        eventsChanged.notify_all();
    }

    std::optional<ScopedClock> scanClock;
    // The session `connectTo` connects through; BLE: the simulated radio world and the sensor's
    // BGX13 module in it.
    Transport transport = Transport::mfi;
    std::optional<sim::SimulatedBluetooth::Installation> bluetooth;
    std::shared_ptr<sim::SimulatedBGX13> module;
    int backendStatus = 200;  // set before a scan, or through answerBackend
    std::string heldEvent;
    std::mutex eventsMutex;
    std::condition_variable eventsChanged;
    std::vector<Event> events;
};

}  // namespace qz::scantest
