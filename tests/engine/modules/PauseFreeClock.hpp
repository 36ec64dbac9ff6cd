#pragma once

#include <chrono>
#include <mutex>

#include "platform/Clock.hpp"

namespace qz::testsupport {

// Time in which pauses cost nothing: a sleep returns at once and moves the time on by its
// length, while timed waits (the relay waiting for the sensor) run in real time shortened by
// `factor`, so that replies that must come have time to come.
class PauseFreeClock : public Clock {
  public:
    explicit PauseFreeClock(double factor = 0.5) : factor_(factor) {}

    TimePoint now() const override {
        std::lock_guard lock(mutex_);
        const auto real = std::chrono::steady_clock::now() - realStart_;
        return start_ + toDuration(toSeconds(real) / factor_) + toDuration(paused_);
    }
    WallTimePoint wallNow() const override { return std::chrono::system_clock::now(); }
    void sleepFor(double seconds) override {
        if (seconds <= 0) return;
        std::lock_guard lock(mutex_);
        paused_ += seconds;
    }
    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   TimePoint deadline, const std::function<bool()>& pred) override {
        while (!pred()) {
            const double left = toSeconds(deadline - now());
            if (left <= 0) return pred();
            cv.wait_for(lock, toDuration(left * factor_));
        }
        return true;
    }

    // Seconds of pauses taken so far.
    double paused() const {
        std::lock_guard lock(mutex_);
        return paused_;
    }

  private:
    const double factor_;
    const TimePoint start_ = std::chrono::steady_clock::now();
    const std::chrono::steady_clock::time_point realStart_ = std::chrono::steady_clock::now();
    mutable std::mutex mutex_;
    double paused_ = 0;
};

}  // namespace qz::testsupport
