#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "platform/DispatchQueue.hpp"

namespace qz {

// A one-shot or repeating timer on `Clock::current()` time whose handler runs on a queue.
// `invalidate()` stops it; a handler already started finishes. The timer keeps itself
// alive while it is valid, so the creator may drop its reference.
class Timer : public std::enable_shared_from_this<Timer> {
  public:
    static std::shared_ptr<Timer> schedule(double intervalSeconds, bool repeats,
                                           std::shared_ptr<DispatchQueue> queue,
                                           std::function<void()> handler);

    void invalidate();
    bool isValid() const { return valid_.load(); }
    double interval() const { return interval_; }

  private:
    Timer(double interval, bool repeats, std::shared_ptr<DispatchQueue> queue,
          std::function<void()> handler);
    void arm(double delay);
    void fire();

    double interval_;
    bool repeats_;
    std::shared_ptr<DispatchQueue> queue_;
    std::function<void()> handler_;
    std::atomic<bool> valid_{true};
    std::mutex mutex_;
    ScheduledWork pending_;
};

}  // namespace qz
