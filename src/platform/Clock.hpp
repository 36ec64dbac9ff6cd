#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace qz {

// The one source of time for every wait and sleep. Deadlines are points on the
// monotonic timeline of `now()`; wall time is only for display.
//
// Tests install a `ScaledClock` (every wait and sleep shortened by one factor) or a
// `VirtualClock` (time moves only by `advance`) with `ScopedClock`.
class Clock {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Duration = std::chrono::steady_clock::duration;
    using WallTimePoint = std::chrono::system_clock::time_point;

    virtual ~Clock() = default;

    // Monotonic time on this clock's timeline.
    virtual TimePoint now() const = 0;
    // Wall-clock time (for dates shown to people).
    virtual WallTimePoint wallNow() const = 0;
    // Blocks the calling thread for `seconds` of this clock's time (<= 0 returns at once).
    virtual void sleepFor(double seconds) = 0;
    // Waits on `cv` (with `lock` held on entry and on return) until `pred()` holds or
    // this clock reaches `deadline`. Returns the final value of `pred()`.
    virtual bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                           TimePoint deadline, const std::function<bool()>& pred) = 0;

    // Same as `waitUntil` with the deadline `seconds` from now.
    bool waitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, double seconds,
                 const std::function<bool()>& pred);
    // The point `seconds` after `now()`.
    TimePoint deadlineAfter(double seconds) const;

    // Seconds as a duration (saturating, never negative).
    static Duration toDuration(double seconds);
    // A duration as seconds.
    static double toSeconds(Duration d);

    // The installed clock (a `SystemClock` until something else is installed).
    static std::shared_ptr<Clock> current();
    // Installs `clock` process-wide (null reinstalls the system clock); returns the previous one.
    static std::shared_ptr<Clock> install(std::shared_ptr<Clock> clock);
};

// Real time: std::chrono::steady_clock and system_clock.
class SystemClock : public Clock {
  public:
    TimePoint now() const override;
    WallTimePoint wallNow() const override;
    void sleepFor(double seconds) override;
    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   TimePoint deadline, const std::function<bool()>& pred) override;
};

// Real time run faster: every wait and sleep takes `factor` times its nominal length
// (factor 0.01 turns a 3 s wait into 30 ms). `now()` and `wallNow()` advance by
// 1/factor seconds per real second from the moment of construction, so deadlines
// computed from `now()` stay consistent with the shortened waits.
class ScaledClock : public Clock {
  public:
    explicit ScaledClock(double factor);

    double factor() const { return factor_; }

    TimePoint now() const override;
    WallTimePoint wallNow() const override;
    void sleepFor(double seconds) override;
    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   TimePoint deadline, const std::function<bool()>& pred) override;

  private:
    std::chrono::steady_clock::time_point toReal(TimePoint t) const;

    double factor_;
    std::chrono::steady_clock::time_point realStart_;
    WallTimePoint wallStart_;
};

// Time that moves only through `advance`. Sleepers and waiters block until the
// virtual time reaches their deadline (or, for waits, their predicate holds). Timed
// waits are woken by `advance` and also recheck every 2 ms of real time, which covers
// an advance that lands just before they block.
class VirtualClock : public Clock {
  public:
    VirtualClock();

    TimePoint now() const override;
    WallTimePoint wallNow() const override;
    void sleepFor(double seconds) override;
    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   TimePoint deadline, const std::function<bool()>& pred) override;

    // Moves the time forward by `seconds` (negative values are ignored) and wakes
    // every sleeper and waiter so they recheck their deadlines.
    void advance(double seconds);
    // Seconds advanced since construction.
    double elapsed() const;
    // Number of threads currently blocked in `sleepFor` or `waitUntil` on this clock
    // (the thread that runs delayed queue work counts while it waits for an item
    // scheduled on this clock).
    size_t waiterCount() const;
    // Blocks (in real time, at most `realTimeoutSeconds`) until at least `count`
    // threads are blocked on this clock. Returns whether they are.
    bool waitForWaiters(size_t count, double realTimeoutSeconds = 10.0) const;
    // The nearest deadline of the sleeps and waits blocked on this clock, if any: where a
    // test moves the time next.
    std::optional<TimePoint> nextDeadline() const;
    // Sleeps and waits that have returned since construction.
    uint64_t waitsEnded() const;

  private:
    struct State;
    std::shared_ptr<State> state_;
};

// Installs a clock for the life of the object and restores the previous one.
class ScopedClock {
  public:
    explicit ScopedClock(std::shared_ptr<Clock> clock);
    ~ScopedClock();
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

    const std::shared_ptr<Clock>& clock() const { return clock_; }

  private:
    std::shared_ptr<Clock> clock_;
    std::shared_ptr<Clock> previous_;
};

}  // namespace qz
