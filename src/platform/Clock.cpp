#include "platform/Clock.hpp"

#include <algorithm>
#include <cmath>
#include <set>
#include <thread>
#include <vector>

namespace qz {

namespace {

// The longest duration we compute with (about 31 years); keeps time-point arithmetic
// far from overflow.
constexpr double kMaxSeconds = 1e9;

struct ClockSlot {
    std::mutex mutex;
    std::shared_ptr<Clock> clock;
};

// Deliberately leaked: clocks stay usable by threads still running at process exit.
ClockSlot& slot() {
    static ClockSlot* s = [] {
        auto* p = new ClockSlot;
        p->clock = std::make_shared<SystemClock>();
        return p;
    }();
    return *s;
}

std::shared_ptr<Clock> systemClock() {
    static auto* c = new std::shared_ptr<Clock>(std::make_shared<SystemClock>());
    return *c;
}

}  // namespace

// --- Clock -----------------------------------------------------------------------------

Clock::Duration Clock::toDuration(double seconds) {
    if (!(seconds > 0)) return Duration::zero();  // also NaN
    seconds = std::min(seconds, kMaxSeconds);
    // Rounded, so that 2.9 s + 0.1 s of advances reach a 3 s deadline.
    return std::chrono::round<Duration>(std::chrono::duration<double>(seconds));
}

double Clock::toSeconds(Duration d) {
    return std::chrono::duration<double>(d).count();
}

Clock::TimePoint Clock::deadlineAfter(double seconds) const {
    return now() + toDuration(seconds);
}

bool Clock::waitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, double seconds,
                    const std::function<bool()>& pred) {
    return waitUntil(lock, cv, deadlineAfter(seconds), pred);
}

std::shared_ptr<Clock> Clock::current() {
    auto& s = slot();
    std::lock_guard lock(s.mutex);
    return s.clock;
}

std::shared_ptr<Clock> Clock::install(std::shared_ptr<Clock> clock) {
    if (!clock) clock = systemClock();
    auto& s = slot();
    std::lock_guard lock(s.mutex);
    std::swap(s.clock, clock);
    return clock;
}

// --- SystemClock -----------------------------------------------------------------------

Clock::TimePoint SystemClock::now() const {
    return std::chrono::steady_clock::now();
}

Clock::WallTimePoint SystemClock::wallNow() const {
    return std::chrono::system_clock::now();
}

void SystemClock::sleepFor(double seconds) {
    if (seconds > 0) std::this_thread::sleep_for(toDuration(seconds));
}

bool SystemClock::waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                            TimePoint deadline, const std::function<bool()>& pred) {
    return cv.wait_until(lock, deadline, pred);
}

// --- ScaledClock -----------------------------------------------------------------------

ScaledClock::ScaledClock(double factor)
    : factor_(factor > 0 && std::isfinite(factor) ? factor : 1.0),
      realStart_(std::chrono::steady_clock::now()),
      wallStart_(std::chrono::system_clock::now()) {}

Clock::TimePoint ScaledClock::now() const {
    auto real = std::chrono::steady_clock::now() - realStart_;
    return realStart_ + toDuration(toSeconds(real) / factor_);
}

Clock::WallTimePoint ScaledClock::wallNow() const {
    auto elapsed = now() - realStart_;
    return wallStart_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(elapsed);
}

std::chrono::steady_clock::time_point ScaledClock::toReal(TimePoint t) const {
    if (t <= realStart_) return realStart_;
    return realStart_ + toDuration(toSeconds(t - realStart_) * factor_);
}

void ScaledClock::sleepFor(double seconds) {
    if (seconds > 0) std::this_thread::sleep_for(toDuration(seconds * factor_));
}

bool ScaledClock::waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                            TimePoint deadline, const std::function<bool()>& pred) {
    return cv.wait_until(lock, toReal(deadline), pred);
}

// --- VirtualClock ----------------------------------------------------------------------

struct VirtualClock::State {
    mutable std::mutex mutex;
    std::condition_variable changed;  // time advanced or the set of waiters changed
    Duration offset{};
    size_t waiters = 0;
    std::multiset<Duration> deadlines;  // of the sleeps and waits blocked, as offsets
    uint64_t ended = 0;
    std::vector<std::condition_variable*> waitingCvs;
    TimePoint origin;
    WallTimePoint wallOrigin;
};

VirtualClock::VirtualClock() : state_(std::make_shared<State>()) {
    state_->origin = std::chrono::steady_clock::now();
    state_->wallOrigin = std::chrono::system_clock::now();
}

Clock::TimePoint VirtualClock::now() const {
    std::lock_guard lock(state_->mutex);
    return state_->origin + state_->offset;
}

Clock::WallTimePoint VirtualClock::wallNow() const {
    std::lock_guard lock(state_->mutex);
    return state_->wallOrigin +
           std::chrono::duration_cast<std::chrono::system_clock::duration>(state_->offset);
}

double VirtualClock::elapsed() const {
    std::lock_guard lock(state_->mutex);
    return toSeconds(state_->offset);
}

void VirtualClock::advance(double seconds) {
    std::lock_guard lock(state_->mutex);
    state_->offset += toDuration(seconds);
    // Notified under our mutex: a waiter unregisters its condition variable under the
    // same mutex, so none of these can be gone yet.
    for (auto* cv : state_->waitingCvs) cv->notify_all();
    state_->changed.notify_all();
}

void VirtualClock::sleepFor(double seconds) {
    if (!(seconds > 0)) return;
    std::unique_lock lock(state_->mutex);
    auto deadline = state_->offset + toDuration(seconds);
    ++state_->waiters;
    const auto at = state_->deadlines.insert(deadline);
    state_->changed.notify_all();
    state_->changed.wait(lock, [&] { return state_->offset >= deadline; });
    --state_->waiters;
    state_->deadlines.erase(at);
    ++state_->ended;
    state_->changed.notify_all();
}

bool VirtualClock::waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                             TimePoint deadline, const std::function<bool()>& pred) {
    std::multiset<Duration>::iterator at;
    {
        std::lock_guard g(state_->mutex);
        ++state_->waiters;
        at = state_->deadlines.insert(deadline - state_->origin);
        state_->waitingCvs.push_back(&cv);
        state_->changed.notify_all();
    }
    bool result;
    for (;;) {
        if (pred()) {
            result = true;
            break;
        }
        if (now() >= deadline) {
            result = pred();
            break;
        }
        // `advance` notifies `cv`; the short real-time slice covers an advance that
        // lands between the check above and the start of this wait.
        cv.wait_for(lock, std::chrono::milliseconds(2));
    }
    {
        std::lock_guard g(state_->mutex);
        --state_->waiters;
        state_->deadlines.erase(at);
        ++state_->ended;
        auto& cvs = state_->waitingCvs;
        cvs.erase(std::find(cvs.begin(), cvs.end(), &cv));
        state_->changed.notify_all();
    }
    return result;
}

size_t VirtualClock::waiterCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->waiters;
}

std::optional<Clock::TimePoint> VirtualClock::nextDeadline() const {
    std::lock_guard lock(state_->mutex);
    if (state_->deadlines.empty()) return std::nullopt;
    return state_->origin + *state_->deadlines.begin();
}

uint64_t VirtualClock::waitsEnded() const {
    std::lock_guard lock(state_->mutex);
    return state_->ended;
}

bool VirtualClock::waitForWaiters(size_t count, double realTimeoutSeconds) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, toDuration(realTimeoutSeconds),
                                    [&] { return state_->waiters >= count; });
}

// --- ScopedClock -----------------------------------------------------------------------

ScopedClock::ScopedClock(std::shared_ptr<Clock> clock)
    : clock_(std::move(clock)), previous_(Clock::install(clock_)) {}

ScopedClock::~ScopedClock() {
    Clock::install(previous_);
}

}  // namespace qz
