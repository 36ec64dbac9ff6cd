#include "platform/DispatchQueue.hpp"

#include <algorithm>
#include <exception>
#include <thread>

#include "platform/Clock.hpp"

namespace qz {

// Runs jobs on threads. Implementations are process-lifetime singletons that are
// deliberately leaked: their threads are detached and may still be parked at exit.
struct DispatchQueue::Executor {
    virtual ~Executor() = default;
    virtual void submit(std::function<void()> job) = 0;
};

namespace {

// Queues whose items the calling thread is running, innermost last.
thread_local std::vector<DispatchQueue*> runningQueues;

// A pool of worker threads that grows when every worker is busy (work items may block,
// for instance in a semaphore wait, and must never starve one another) and shrinks
// when workers stay idle.
class ThreadPool final : public DispatchQueue::Executor {
  public:
    void submit(std::function<void()> job) override {
        std::unique_lock lock(mutex_);
        jobs_.push_back(std::move(job));
        if (jobs_.size() > idle_) {
            ++threads_;
            lock.unlock();
            std::thread([this] { work(); }).detach();
        } else {
            cv_.notify_one();
        }
    }

  private:
    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (jobs_.empty()) {
                ++idle_;
                // Housekeeping only, so real time rather than the injectable clock.
                bool got =
                    cv_.wait_for(lock, std::chrono::seconds(20), [&] { return !jobs_.empty(); });
                --idle_;
                if (!got) {
                    --threads_;
                    return;
                }
            }
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            job = nullptr;  // destroy captures outside the lock
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> jobs_;
    size_t idle_ = 0;
    size_t threads_ = 0;
};

// One thread of its own, started on first use.
class DedicatedThread final : public DispatchQueue::Executor {
  public:
    DedicatedThread() {
        std::thread([this] { work(); }).detach();
    }

    void submit(std::function<void()> job) override {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        cv_.notify_one();
    }

    std::thread::id id() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return started_; });
        return id_;
    }

  private:
    void work() {
        std::unique_lock lock(mutex_);
        id_ = std::this_thread::get_id();
        started_ = true;
        cv_.notify_all();
        for (;;) {
            cv_.wait(lock, [&] { return !jobs_.empty(); });
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            job = nullptr;
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> jobs_;
    std::thread::id id_;
    bool started_ = false;
};

ThreadPool& pool() {
    static auto* p = new ThreadPool;
    return *p;
}

DedicatedThread& mainThread() {
    static auto* t = new DedicatedThread;
    return *t;
}

// Delayed items: one thread waits, through each item's clock, for the earliest deadline
// and hands due items to their queues.
class Scheduler {
  public:
    void schedule(std::shared_ptr<Clock> clock, Clock::TimePoint deadline,
                  std::shared_ptr<DispatchQueue> queue, std::function<void()> work,
                  ScheduledWork handle) {
        std::lock_guard lock(mutex_);
        if (!started_) {
            started_ = true;
            std::thread([this] { run(); }).detach();
        }
        entries_.push_back(
            {std::move(clock), deadline, std::move(queue), std::move(work), std::move(handle)});
        ++generation_;
        cv_.notify_all();
    }

  private:
    struct Entry {
        std::shared_ptr<Clock> clock;
        Clock::TimePoint deadline;
        std::shared_ptr<DispatchQueue> queue;
        std::function<void()> work;
        ScheduledWork handle;
    };

    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (entries_.empty()) {
                cv_.wait(lock, [&] { return !entries_.empty(); });
                continue;
            }
            std::vector<Entry> due;
            for (auto it = entries_.begin(); it != entries_.end();) {
                if (it->handle.isCancelled() || it->clock->now() >= it->deadline) {
                    due.push_back(std::move(*it));
                    it = entries_.erase(it);
                } else {
                    ++it;
                }
            }
            if (!due.empty()) {
                // Items that fell due together go out in deadline order.
                std::stable_sort(due.begin(), due.end(), [](const Entry& a, const Entry& b) {
                    if (a.clock != b.clock)
                        return std::less<Clock*>()(a.clock.get(), b.clock.get());
                    return a.deadline < b.deadline;
                });
                lock.unlock();
                for (auto& e : due)
                    if (!e.handle.isCancelled()) e.queue->async(std::move(e.work));
                due.clear();
                lock.lock();
                continue;
            }
            // Wait for the nearest deadline or a new entry.
            auto nearest = std::min_element(
                entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
                    return a.deadline - a.clock->now() < b.deadline - b.clock->now();
                });
            auto clock = nearest->clock;
            auto deadline = nearest->deadline;
            bool oneClock = std::all_of(entries_.begin(), entries_.end(),
                                        [&](const Entry& e) { return e.clock == clock; });
            uint64_t seen = generation_;
            auto changed = [&] { return generation_ != seen; };
            if (oneClock) {
                clock->waitUntil(lock, cv_, deadline, changed);
            } else {
                // Entries on different clocks (one of them maybe a test clock no longer
                // advanced): look at all of them often.
                cv_.wait_for(lock, std::chrono::milliseconds(5), changed);
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Entry> entries_;
    uint64_t generation_ = 0;
    bool started_ = false;
};

Scheduler& scheduler() {
    static auto* s = new Scheduler;
    return *s;
}

}  // namespace

// --- DispatchQueue ---------------------------------------------------------------------

DispatchQueue::DispatchQueue(std::string label, Kind kind, Executor* executor)
    : label_(std::move(label)), kind_(kind), executor_(executor) {}

DispatchQueue::~DispatchQueue() = default;

std::shared_ptr<DispatchQueue> DispatchQueue::create(std::string label, Kind kind) {
    return std::shared_ptr<DispatchQueue>(new DispatchQueue(std::move(label), kind, &pool()));
}

std::shared_ptr<DispatchQueue> DispatchQueue::main() {
    static auto* q =
        new std::shared_ptr<DispatchQueue>(new DispatchQueue("main", Kind::serial, &mainThread()));
    return *q;
}

std::shared_ptr<DispatchQueue> DispatchQueue::global() {
    static auto* q =
        new std::shared_ptr<DispatchQueue>(new DispatchQueue("global", Kind::concurrent, &pool()));
    return *q;
}

bool DispatchQueue::isMainThread() {
    return std::this_thread::get_id() == mainThread().id();
}

void DispatchQueue::runItem(const Work& work) {
    runningQueues.push_back(this);
    struct Pop {
        ~Pop() { runningQueues.pop_back(); }
    } pop;
    work();
}

void DispatchQueue::drain() {
    std::unique_lock lock(mutex_);
    while (!pending_.empty()) {
        Work work = std::move(pending_.front());
        pending_.pop_front();
        lock.unlock();
        try {
            runItem(work);
        } catch (...) {
        }
        work = nullptr;
        lock.lock();
    }
    draining_ = false;
}

void DispatchQueue::async(Work work) {
    if (!work) return;
    auto self = shared_from_this();
    if (kind_ == Kind::concurrent) {
        executor_->submit([self, work = std::move(work)] {
            try {
                self->runItem(work);
            } catch (...) {
            }
        });
        return;
    }
    std::unique_lock lock(mutex_);
    pending_.push_back(std::move(work));
    if (draining_) return;
    draining_ = true;
    lock.unlock();
    executor_->submit([self] { self->drain(); });
}

void DispatchQueue::sync(const Work& work) {
    if (!work) return;
    if (isCurrent() || kind_ == Kind::concurrent) {
        runItem(work);
        return;
    }
    if (executor_ == &mainThread()) {
        syncOnQueueThread(work);
        return;
    }
    // Take a turn on the queue: a placeholder item holds the queue while the caller runs
    // `work` on its own thread, so queues the caller is running stay current inside it.
    struct Turn {
        std::mutex mutex;
        std::condition_variable cv;
        bool started = false;
        bool finished = false;
    };
    auto turn = std::make_shared<Turn>();
    async([turn] {
        std::unique_lock lock(turn->mutex);
        turn->started = true;
        turn->cv.notify_all();
        turn->cv.wait(lock, [&] { return turn->finished; });
    });
    {
        std::unique_lock lock(turn->mutex);
        turn->cv.wait(lock, [&] { return turn->started; });
    }
    struct Finish {
        Turn& turn;
        ~Finish() {
            std::lock_guard lock(turn.mutex);
            turn.finished = true;
            turn.cv.notify_all();
        }
    } finish{*turn};
    runItem(work);
}

void DispatchQueue::syncOnQueueThread(const Work& work) {
    struct Completion {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
        std::exception_ptr error;
    };
    auto completion = std::make_shared<Completion>();
    async([completion, &work] {
        std::exception_ptr error;
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard lock(completion->mutex);
        completion->error = error;
        completion->done = true;
        completion->cv.notify_all();
    });
    std::unique_lock lock(completion->mutex);
    completion->cv.wait(lock, [&] { return completion->done; });
    if (completion->error) std::rethrow_exception(completion->error);
}

ScheduledWork DispatchQueue::asyncAfter(double seconds, Work work) {
    ScheduledWork handle;
    if (!work) return handle;
    auto clock = Clock::current();
    auto deadline = clock->deadlineAfter(seconds);
    scheduler().schedule(std::move(clock), deadline, shared_from_this(), std::move(work), handle);
    return handle;
}

bool DispatchQueue::isCurrent() const {
    return std::find(runningQueues.begin(), runningQueues.end(), this) != runningQueues.end();
}

std::string DispatchQueue::currentLabel() {
    return runningQueues.empty() ? std::string() : runningQueues.back()->label_;
}

std::shared_ptr<DispatchQueue> DispatchQueue::current() {
    return runningQueues.empty() ? nullptr : runningQueues.back()->shared_from_this();
}

// --- DispatchSemaphore -----------------------------------------------------------------

struct DispatchSemaphore::State {
    std::mutex mutex;
    std::condition_variable cv;
    long value;
};

DispatchSemaphore::DispatchSemaphore(long value) : state_(std::make_shared<State>()) {
    state_->value = value;
}

void DispatchSemaphore::signal() const {
    std::lock_guard lock(state_->mutex);
    ++state_->value;
    state_->cv.notify_one();
}

void DispatchSemaphore::wait() const {
    std::unique_lock lock(state_->mutex);
    state_->cv.wait(lock, [&] { return state_->value > 0; });
    --state_->value;
}

bool DispatchSemaphore::wait(double timeoutSeconds) const {
    auto clock = Clock::current();
    std::unique_lock lock(state_->mutex);
    if (!clock->waitFor(lock, state_->cv, timeoutSeconds, [&] { return state_->value > 0; }))
        return false;
    --state_->value;
    return true;
}

// --- DispatchGroup ---------------------------------------------------------------------

struct DispatchGroup::State {
    std::mutex mutex;
    std::condition_variable cv;
    long count = 0;
    std::vector<std::pair<std::shared_ptr<DispatchQueue>, std::function<void()>>> notifications;
};

DispatchGroup::DispatchGroup() : state_(std::make_shared<State>()) {}

void DispatchGroup::enter() const {
    std::lock_guard lock(state_->mutex);
    ++state_->count;
}

void DispatchGroup::leave() const {
    std::unique_lock lock(state_->mutex);
    if (state_->count == 0) return;
    if (--state_->count > 0) return;
    auto notifications = std::move(state_->notifications);
    state_->notifications.clear();
    state_->cv.notify_all();
    lock.unlock();
    for (auto& [queue, work] : notifications) queue->async(std::move(work));
}

void DispatchGroup::wait() const {
    std::unique_lock lock(state_->mutex);
    state_->cv.wait(lock, [&] { return state_->count == 0; });
}

bool DispatchGroup::wait(double timeoutSeconds) const {
    auto clock = Clock::current();
    std::unique_lock lock(state_->mutex);
    return clock->waitFor(lock, state_->cv, timeoutSeconds, [&] { return state_->count == 0; });
}

void DispatchGroup::notify(std::shared_ptr<DispatchQueue> queue, std::function<void()> work) const {
    if (!queue || !work) return;
    std::unique_lock lock(state_->mutex);
    if (state_->count > 0) {
        state_->notifications.emplace_back(std::move(queue), std::move(work));
        return;
    }
    lock.unlock();
    queue->async(std::move(work));
}

void DispatchGroup::async(const std::shared_ptr<DispatchQueue>& queue,
                          std::function<void()> work) const {
    enter();
    auto group = *this;
    queue->async([group, work = std::move(work)] {
        struct Leave {
            const DispatchGroup& g;
            ~Leave() { g.leave(); }
        } leave{group};
        if (work) work();
    });
}

}  // namespace qz
