#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Facades/QZEAdapters.hpp"
#include "lib/Facades/QZEPitCrew.hpp"
#include "lib/Logging/LoggerInterface.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"
#include "platform/Clock.hpp"

// Fakes of the engine's adapters for tests of the engine and the module classes: a scripted
// sensor, settings, a recording logger and a clock whose sleeps return at once.
namespace qz::testsupport {

// What happened, in order: "send:<cmd>", "setup:<cmd>", "sleep:<seconds>", "reset-timeout".
class EventLog {
  public:
    void add(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

// Virtual time in which a sleep returns at once after moving the time on; each sleep is
// logged. A wait lasts until its predicate holds (a reply from the simulated sensor); only
// when nothing comes for 10 real seconds does it count as reaching its deadline.
class SteppingClock : public Clock {
  public:
    explicit SteppingClock(std::shared_ptr<EventLog> log) : log_(std::move(log)) {}

    TimePoint now() const override {
        std::lock_guard lock(mutex_);
        return now_;
    }
    WallTimePoint wallNow() const override { return WallTimePoint{} + (now() - TimePoint{}); }
    void sleepFor(double seconds) override {
        if (seconds <= 0) return;
        char text[32];
        std::snprintf(text, sizeof text, "sleep:%g", seconds);
        log_->add(text);
        std::lock_guard lock(mutex_);
        now_ += toDuration(seconds);
        elapsed_ += seconds;
    }
    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   TimePoint deadline, const std::function<bool()>& pred) override {
        if (cv.wait_for(lock, std::chrono::seconds(10), pred)) return true;
        std::lock_guard guard(mutex_);
        if (deadline > now_) {
            elapsed_ += toSeconds(deadline - now_);
            now_ = deadline;
        }
        return false;
    }
    double elapsed() const {
        std::lock_guard lock(mutex_);
        return elapsed_;
    }

  private:
    std::shared_ptr<EventLog> log_;
    mutable std::mutex mutex_;
    TimePoint now_{};
    double elapsed_ = 0;
};

// Real time moved on by the length of every sleep, so that sleeps return at once; how a wait
// runs is the subclass's. The seconds slept are counted.
class SkippedSleepsClock : public Clock {
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
    // Seconds slept so far.
    double slept() const {
        std::lock_guard lock(mutex_);
        return slept_;
    }

  protected:
    Duration offset() const {
        std::lock_guard lock(mutex_);
        return offset_;
    }
    // Moves the time on to `deadline` where it is still behind it.
    void catchUp(TimePoint deadline) {
        std::lock_guard lock(mutex_);
        const auto behind = deadline - (std::chrono::steady_clock::now() + offset_);
        if (behind > Duration::zero()) offset_ += behind;
    }

  private:
    mutable std::mutex mutex_;
    Duration offset_{};
    double slept_ = 0;
};

// The sensor and vehicle seen through the engine's adapters. Replies are scripted per command
// (a queue whose last entry repeats) or by a function; unscripted commands answer "NO DATA",
// but the sensor's switches (protocol, pins, header, multiple responses, raw CAN, interface)
// "OK".
class ScriptedVehicle : public QZVehicleCommunicationProtocol,
                        public QZSensorStateTracker,
                        public QZVehicleStateInfo,
                        public QZSensorTimeoutAdapter {
  public:
    explicit ScriptedVehicle(std::shared_ptr<EventLog> log) : log_(std::move(log)) {}

    void script(const std::string& cmd, std::vector<std::string> replies) {
        std::lock_guard lock(mutex_);
        scripts_[cmd] = std::deque<std::string>(replies.begin(), replies.end());
    }
    void answerWith(std::function<std::string(const std::string&)> fn) {
        std::lock_guard lock(mutex_);
        answer_ = std::move(fn);
    }
    // How many set-up sends are refused before one is accepted (-1: all refused).
    void refuseSetups(int count) { refusals_ = count; }
    // Set-ups not accepted get no answer at all, rather than a refusal.
    bool setupsUnanswered = false;
    QZESetupAnswer sendSetupCommand(const OptionalText& cmd) override {
        if (sendSetupCommandToOstrel(cmd)) return QZESetupAnswer::accepted;
        return setupsUnanswered ? QZESetupAnswer::unanswered : QZESetupAnswer::refused;
    }

    bool sendSetupCommandToOstrel(const OptionalText& cmd) override {
        log_->add("setup:" + cmd.value_or(""));
        std::lock_guard lock(mutex_);
        if (refusals_ < 0) return false;
        if (refusals_ > 0) return --refusals_, false;
        return true;
    }
    bool sendSetupCommandToOstrel(const OptionalText& cmd, bool) override {
        return sendSetupCommandToOstrel(cmd);
    }
    // A scripted reply that stops before its prompt: the part that came. sendCommand tells it
    // cut short; sendCommandToOstrel gives the part alone.
    static std::string stalled(std::string part) { return part + kStall; }
    QZECommandReply sendCommand(const OptionalText& cmd) override {
        std::string text = sendCommandToOstrel(cmd).value_or(kNoDataReply);
        std::lock_guard lock(mutex_);
        return {std::move(text), lastStalled_};
    }
    OptionalText sendCommandToOstrel(const OptionalText& cmd) override {
        std::string c = cmd.value_or("");
        log_->add("send:" + c);
        std::lock_guard lock(mutex_);
        lastStalled_ = false;
        if (auto it = scripts_.find(c); it != scripts_.end() && !it->second.empty()) {
            std::string reply = it->second.front();
            if (it->second.size() > 1) it->second.pop_front();
            if (!reply.empty() && reply.back() == kStall) {
                reply.pop_back();
                lastStalled_ = true;
            }
            return reply;
        }
        if (answer_) return answer_(c);
        for (const char* sw : {"SP", "SM", "SH", "X", "CR", "IF"})
            if (c.starts_with(std::string("KQ") + sw) || c.starts_with(std::string("AT") + sw))
                return std::string("OK\r\r>");
        return std::string("NO DATA\r\r>");
    }

    int64_t highPin = 0, lowPin = 0;
    OptionalText protocol;
    std::optional<bool> headers;  // shown ("KQH1"); none: not followed
    OptionalText bus;             // the vehicle's bus ("CAN29_500")
    int64_t year = 2015;
    int64_t make = 0;

    int64_t activeHighPin() override { return highPin; }
    int64_t activeLowPin() override { return lowPin; }
    OptionalText activeProtocolString() override { return protocol; }
    std::optional<bool> headersShown() override { return headers; }
    int64_t modelYear() override { return year; }
    int64_t vehicleDataManufacturer() override { return make; }
    OptionalText obd2ProtocolString() override { return bus; }
    OptionalText vin() override { return std::nullopt; }
    void setMaxWaitTimeForSensorResponse(double) override {}
    void resetSesorResponseTime() override { log_->add("reset-timeout"); }

  private:
    static constexpr char kStall = '\x1B';
    std::shared_ptr<EventLog> log_;
    std::mutex mutex_;
    bool lastStalled_ = false;
    std::map<std::string, std::deque<std::string>> scripts_;
    std::function<std::string(const std::string&)> answer_;
    int refusals_ = 0;
};

// The scripted sensor keeping the protocol and pins that "KQSP" and "KQSM" select when it
// accepts them, as the facade's vehicle does: a bus protocol brings its pins, another protocol
// leaves them. With tracksProtocol off, only "KQSM" is kept.
class PinTrackingVehicle : public ScriptedVehicle {
  public:
    using ScriptedVehicle::ScriptedVehicle;
    bool tracksProtocol = true;
    bool sendSetupCommandToOstrel(const OptionalText& cmd) override {
        const bool accepted = ScriptedVehicle::sendSetupCommandToOstrel(cmd);
        if (accepted) track(cmd.value_or(""));
        return accepted;
    }
    OptionalText sendCommandToOstrel(const OptionalText& cmd) override {
        auto reply = ScriptedVehicle::sendCommandToOstrel(cmd);
        if (reply && reply::isAccepted(*reply)) track(cmd.value_or(""));
        return reply;
    }

  private:
    void track(const std::string& cmd) {
        if (cmd.starts_with("KQSP") && cmd.size() == 5) {
            if (!tracksProtocol) return;
            protocol = cmd.substr(4);
            const char p = cmd[4];
            if (p == '1') highPin = 2, lowPin = 10;
            if (p == '2') highPin = 2, lowPin = 0;
            if (p >= '3' && p <= '5') highPin = 7, lowPin = 0;
            if (p >= '6' && p <= '9') highPin = 6, lowPin = 14;
        } else if (cmd.starts_with("KQSM") && cmd.size() == 6) {
            highPin = std::stoi(cmd.substr(4, 1), nullptr, 16);
            lowPin = std::stoi(cmd.substr(5, 1), nullptr, 16);
        }
    }
};

// The stored settings the engine reads.
class FakeSettings : public QZDataAdapter {
  public:
    int64_t version = 405;
    bool newCommandSet = true;
    void setEnhancedProtocol(const OptionalText&) override {}
    OptionalText EnhancedProtocol() override { return std::nullopt; }
    OptionalText VIN() override { return std::nullopt; }
    void setVehicleParentMan(const OptionalText&) override {}
    OptionalText vehicleParentMan() override { return std::nullopt; }
    int64_t sensorVersionNumber() override { return version; }
    int64_t obd2Protocol() override { return 0; }
    bool useNewCommandSet() override { return newCommandSet; }
    OptionalText customVehicleMan() override { return std::nullopt; }
};

// Every line the engine logs, as "<level>:<text>" with levels V, D, I, W, E.
class RecordingLogger : public LoggerInterface {
  public:
    void logVerbose(const std::optional<std::string>& t) override { add("V", t); }
    void logDebug(const std::optional<std::string>& t) override { add("D", t); }
    void logInfo(const std::optional<std::string>& t) override { add("I", t); }
    void logWarning(const std::optional<std::string>& t) override { add("W", t); }
    void logError(const std::optional<std::string>& t) override { add("E", t); }

    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // The lines that begin with the prefix ("E:Invalid").
    std::vector<std::string> linesStartingWith(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& line : lines())
            if (line.starts_with(prefix)) out.push_back(line);
        return out;
    }
    size_t count(const std::string& line) const {
        auto all = lines();
        return static_cast<size_t>(std::count(all.begin(), all.end(), line));
    }
    size_t countStartingWith(const std::string& prefix) const {
        return linesStartingWith(prefix).size();
    }
    bool has(const std::string& line) const { return count(line) > 0; }
    void clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

  private:
    void add(const char* level, const std::optional<std::string>& t) {
        std::lock_guard lock(mutex_);
        lines_.push_back(std::string(level) + ":" + t.value_or("<null>"));
    }
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// The base module class with nothing of a make's own (Toyota's make number by default).
class BareModule : public QZEBaseDiagnosticModule {
  public:
    explicit BareModule(int64_t make = 4) : QZEBaseDiagnosticModule(make) {}
};

// Registers the fakes with the engine (through QZEPitCrew) and the stepping clock for the life
// of the object; everything is unregistered afterwards.
class EngineFakes {
  public:
    EngineFakes() {
        crew.registerVehicleCommuications(vehicle);
        crew.registerVehicleSensorStateTracker(vehicle);
        crew.registerVehicleStateInfoAdapter(vehicle);
        crew.registerVehicleSensorTimeoutAdapter(vehicle);
        crew.registerQZDataAdapter(settings);
        crew.registerLoggingAdapter(logger);
    }
    ~EngineFakes() {
        crew.registerVehicleCommuications(nullptr);
        crew.registerVehicleSensorStateTracker(nullptr);
        crew.registerVehicleStateInfoAdapter(nullptr);
        crew.registerVehicleSensorTimeoutAdapter(nullptr);
        crew.registerQZDataAdapter(nullptr);
        crew.registerLoggingAdapter(nullptr);
    }
    EngineFakes(const EngineFakes&) = delete;
    EngineFakes& operator=(const EngineFakes&) = delete;

    // Puts another scripted sensor in the place of `vehicle`, in every role.
    void useVehicle(std::shared_ptr<ScriptedVehicle> other) {
        vehicle = std::move(other);
        crew.registerVehicleCommuications(vehicle);
        crew.registerVehicleSensorStateTracker(vehicle);
        crew.registerVehicleStateInfoAdapter(vehicle);
        crew.registerVehicleSensorTimeoutAdapter(vehicle);
    }

    // Only the events of one kind ("send:", "sleep:", "setup:").
    std::vector<std::string> eventsOf(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& e : events->events())
            if (e.starts_with(prefix)) out.push_back(e);
        return out;
    }

    // The seconds of all sleeps: the gateway's vehicle takes a pause in steps, so that a link
    // that closes ends it.
    double secondsSlept() const {
        double total = 0;
        for (const auto& e : eventsOf("sleep:")) total += std::stod(e.substr(6));
        return total;
    }

    QZEPitCrew crew;
    std::shared_ptr<EventLog> events = std::make_shared<EventLog>();
    std::shared_ptr<ScriptedVehicle> vehicle = std::make_shared<ScriptedVehicle>(events);
    std::shared_ptr<FakeSettings> settings = std::make_shared<FakeSettings>();
    std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();
    std::shared_ptr<SteppingClock> clockImpl = std::make_shared<SteppingClock>(events);
    ScopedClock clock{clockImpl};
};

}  // namespace qz::testsupport
