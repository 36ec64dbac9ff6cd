#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qz {

// Handle of a delayed work item; `cancel()` keeps it from running if it has not started.
class ScheduledWork {
  public:
    ScheduledWork() : cancelled_(std::make_shared<std::atomic<bool>>(false)) {}
    void cancel() { cancelled_->store(true); }
    bool isCancelled() const { return cancelled_->load(); }

  private:
    std::shared_ptr<std::atomic<bool>> cancelled_;
};

// A queue of work items run on background threads.
//
// Serial queues run one item at a time in submission order; concurrent queues start
// items in submission order and run them side by side. Items hold the queue alive:
// releasing the last reference to a queue never drops work already submitted.
//
// `main()` is served by one thread of its own; `global()` is a shared concurrent queue.
class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
  public:
    enum class Kind { serial, concurrent };
    using Work = std::function<void()>;

    static constexpr Kind serial = Kind::serial;
    static constexpr Kind concurrent = Kind::concurrent;

    // A new queue named `label`.
    static std::shared_ptr<DispatchQueue> create(std::string label, Kind kind = Kind::serial);
    // The main queue (label "main"), a serial queue served by its own thread.
    static std::shared_ptr<DispatchQueue> main();
    // The shared concurrent queue (label "global").
    static std::shared_ptr<DispatchQueue> global();

    // Submits `work` and returns at once. An exception escaping `work` is discarded.
    void async(Work work);
    // Submits `work` and returns once it has run. On a serial queue it runs after every
    // item submitted before it and alone. It runs on the calling thread, except on the
    // main queue, where it runs on the main queue's thread. Called from an item already
    // running on this queue (directly or through nested `sync` calls) it runs `work`
    // inline instead of deadlocking. An exception thrown by `work` is rethrown to the
    // caller.
    void sync(const Work& work);
    // Submits `work` after `seconds` of `Clock::current()` time (the clock installed at
    // the time of the call). The handle cancels it while it is still pending.
    ScheduledWork asyncAfter(double seconds, Work work);

    const std::string& label() const { return label_; }
    Kind kind() const { return kind_; }

    // Whether the calling thread is running an item of this queue.
    bool isCurrent() const;
    // The label of the queue whose item the calling thread is running (the innermost
    // one under nested `sync`), or "" on a thread that runs no queue item.
    static std::string currentLabel();
    // The queue whose item the calling thread is running, or null.
    static std::shared_ptr<DispatchQueue> current();
    // Whether the calling thread is the main queue's thread.
    static bool isMainThread();

    ~DispatchQueue();
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    struct Executor;

  private:
    DispatchQueue(std::string label, Kind kind, Executor* executor);
    void drain();
    void runItem(const Work& work);
    void syncOnQueueThread(const Work& work);

    std::string label_;
    Kind kind_;
    Executor* executor_;
    std::mutex mutex_;
    std::deque<Work> pending_;
    bool draining_ = false;
};

// A counting semaphore. Copies share one semaphore, so work that may outlive the
// waiter (a late `signal` after a timed-out `wait`) can hold a copy safely.
class DispatchSemaphore {
  public:
    explicit DispatchSemaphore(long value = 0);

    // Adds one and wakes one waiter.
    void signal() const;
    // Takes one, waiting as long as it takes.
    void wait() const;
    // Takes one, waiting at most `timeoutSeconds` of `Clock::current()` time.
    // Returns true when taken, false on time-out.
    bool wait(double timeoutSeconds) const;

  private:
    struct State;
    std::shared_ptr<State> state_;
};

// Tracks a set of tasks; lets callers wait for, or be notified of, their completion.
// Copies share one group.
class DispatchGroup {
  public:
    DispatchGroup();

    // One more task in progress.
    void enter() const;
    // One task done; when none remain, the pending notifications are submitted.
    // An unbalanced `leave` (more leaves than enters) is ignored.
    void leave() const;
    // Waits until no task remains.
    void wait() const;
    // Waits at most `timeoutSeconds` of `Clock::current()` time; true when no task remains.
    bool wait(double timeoutSeconds) const;
    // Submits `work` to `queue` once no task remains (at once if none does now).
    void notify(std::shared_ptr<DispatchQueue> queue, std::function<void()> work) const;
    // Runs `work` on `queue` as a task of this group.
    void async(const std::shared_ptr<DispatchQueue>& queue, std::function<void()> work) const;

  private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace qz
