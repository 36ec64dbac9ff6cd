#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "api/Communication/SessionListeners.hpp"
#include "platform/DispatchQueue.hpp"

namespace qz::simtest {

// Polls `pred` (real time, at most `seconds`); true once it holds.
inline bool eventually(const std::function<bool()>& pred, double seconds = 10.0) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return pred();
}

// Lets the main queue run everything queued on it so far.
inline void drainMain() {
    DispatchQueue::main()->sync([] {});
}

// Records what a status listener hears (the listener may outlive the log).
class StatusLog {
  public:
    StatusListener listener() {
        return [state = state_](SensorConnectionStatus s) {
            std::lock_guard lock(state->mutex);
            state->seen.push_back(s);
        };
    }
    std::vector<SensorConnectionStatus> seen() const {
        std::lock_guard lock(state_->mutex);
        return state_->seen;
    }
    bool saw(SensorConnectionStatus s) const {
        for (auto x : seen())
            if (x == s) return true;
        return false;
    }
    size_t count(SensorConnectionStatus s) const {
        size_t n = 0;
        for (auto x : seen()) n += x == s;
        return n;
    }

  private:
    struct State {
        std::mutex mutex;
        std::vector<SensorConnectionStatus> seen;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Records what a broadcast listener hears.
class BroadcastLog {
  public:
    struct Entry {
        std::shared_ptr<PelkSensor> sensor;
        BroadcastStatus status;
    };
    BroadcastListener listener() {
        return [state = state_](std::shared_ptr<PelkSensor> sensor, BroadcastStatus s) {
            std::lock_guard lock(state->mutex);
            state->seen.push_back({std::move(sensor), s});
        };
    }
    std::vector<Entry> seen() const {
        std::lock_guard lock(state_->mutex);
        return state_->seen;
    }
    size_t count(BroadcastStatus s) const {
        size_t n = 0;
        for (auto& e : seen()) n += e.status == s;
        return n;
    }

  private:
    struct State {
        std::mutex mutex;
        std::vector<Entry> seen;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace qz::simtest
