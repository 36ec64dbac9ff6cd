#pragma once

// What the fuzz targets share: time that never waits, and ways to cut an input into parts.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Clock.hpp"

namespace qz::fuzz {

// Time that moves only when something waits: a sleep or a wait that is not satisfied at once
// moves the time to its end and returns. Deterministic, so an input replays the same way.
class InstantClock : public Clock {
  public:
    TimePoint now() const override {
        std::lock_guard lock(mutex_);
        return now_;
    }
    WallTimePoint wallNow() const override {
        return WallTimePoint(std::chrono::seconds(1700000000)) +
               std::chrono::duration_cast<std::chrono::system_clock::duration>(
                   now().time_since_epoch());
    }
    void sleepFor(double seconds) override { moveTo(now() + toDuration(seconds)); }
    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   TimePoint deadline, const std::function<bool()>& pred) override {
        if (pred()) return true;
        moveTo(deadline);
        return pred();
    }

  private:
    void moveTo(TimePoint t) {
        std::lock_guard lock(mutex_);
        if (t > now_) now_ = t;
    }
    mutable std::mutex mutex_;
    TimePoint now_{};
};

// Stops the process when a property the target checks does not hold.
inline void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "fuzz target property failed: %s\n", what);
    std::abort();
}

inline std::string_view textOf(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// `text` cut at every `separator` (n separators give n + 1 parts).
inline std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    size_t from = 0;
    for (size_t at = text.find(separator); at != std::string_view::npos;
         at = text.find(separator, from)) {
        parts.emplace_back(text.substr(from, at - from));
        from = at + 1;
    }
    parts.emplace_back(text.substr(from));
    return parts;
}

}  // namespace qz::fuzz
