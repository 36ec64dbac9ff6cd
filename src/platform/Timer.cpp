#include "platform/Timer.hpp"

#include "platform/Clock.hpp"

namespace qz {

Timer::Timer(double interval, bool repeats, std::shared_ptr<DispatchQueue> queue,
             std::function<void()> handler)
    : interval_(interval > 0 ? interval : 0),
      repeats_(repeats),
      queue_(std::move(queue)),
      handler_(std::move(handler)) {}

std::shared_ptr<Timer> Timer::schedule(double intervalSeconds, bool repeats,
                                       std::shared_ptr<DispatchQueue> queue,
                                       std::function<void()> handler) {
    if (!queue) queue = DispatchQueue::main();
    // A repeating timer with no interval would spin; give it a floor.
    if (repeats && !(intervalSeconds > 0)) intervalSeconds = 1e-3;
    std::shared_ptr<Timer> timer(
        new Timer(intervalSeconds, repeats, std::move(queue), std::move(handler)));
    timer->arm(timer->interval_);
    return timer;
}

void Timer::arm(double delay) {
    std::lock_guard lock(mutex_);
    if (!valid_) return;
    // The pending item holds the timer: a valid timer stays alive on its own.
    pending_ = queue_->asyncAfter(delay, [self = shared_from_this()] { self->fire(); });
}

void Timer::fire() {
    if (!valid_) return;
    if (!repeats_) valid_ = false;
    if (handler_) handler_();
    if (repeats_) arm(interval_);
}

void Timer::invalidate() {
    std::lock_guard lock(mutex_);
    valid_ = false;
    pending_.cancel();
}

}  // namespace qz
