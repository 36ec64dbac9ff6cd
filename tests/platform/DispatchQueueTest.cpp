#include "platform/DispatchQueue.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>

#include "platform/Clock.hpp"
#include "platform/Timer.hpp"

namespace qz {
namespace {

using namespace std::chrono_literals;

// A one-shot event waited for in real time: a bound for things that must happen, never
// a pause. Copies share the event, so work captures it by value and a late call after
// a failed test cannot touch a dead object.
class Event {
  public:
    void set() const {
        std::lock_guard lock(s_->m);
        s_->set = true;
        s_->cv.notify_all();
    }
    bool waitReal(std::chrono::milliseconds limit = 10s) const {
        std::unique_lock lock(s_->m);
        return s_->cv.wait_for(lock, limit, [&] { return s_->set; });
    }
    bool isSet() const {
        std::lock_guard lock(s_->m);
        return s_->set;
    }

  private:
    struct State {
        std::mutex m;
        std::condition_variable cv;
        bool set = false;
    };
    std::shared_ptr<State> s_ = std::make_shared<State>();
};

TEST(DispatchQueueTest, SerialQueueRunsItemsInOrderOneAtATime) {
    auto q = DispatchQueue::create("test.serial");
    std::vector<int> order;
    std::atomic<int> running{0};
    std::atomic<int> maxRunning{0};
    for (int i = 0; i < 500; ++i) {
        q->async([&, i] {
            int now = ++running;
            int seen = maxRunning.load();
            while (now > seen && !maxRunning.compare_exchange_weak(seen, now)) {
            }
            order.push_back(i);
            --running;
        });
    }
    q->sync([] {});
    ASSERT_EQ(order.size(), 500u);
    for (int i = 0; i < 500; ++i) EXPECT_EQ(order[i], i);
    EXPECT_EQ(maxRunning.load(), 1);
}

TEST(DispatchQueueTest, ConcurrentQueueRunsItemsSideBySide) {
    auto q = DispatchQueue::create("test.concurrent", DispatchQueue::concurrent);
    DispatchSemaphore a, b;
    std::promise<bool> first, second;
    // Each item waits for the other: only possible when they run at the same time.
    q->async([&] {
        a.signal();
        first.set_value(b.wait(1000.0));
    });
    q->async([&] {
        b.signal();
        second.set_value(a.wait(1000.0));
    });
    auto f1 = first.get_future(), f2 = second.get_future();
    ASSERT_EQ(f1.wait_for(10s), std::future_status::ready);
    ASSERT_EQ(f2.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(f1.get());
    EXPECT_TRUE(f2.get());
}

TEST(DispatchQueueTest, SyncWaitsForEarlierItemsAndRethrows) {
    auto q = DispatchQueue::create("test.sync");
    std::atomic<int> value{0};
    for (int i = 0; i < 100; ++i) q->async([&] { ++value; });
    int seen = -1;
    q->sync([&] { seen = value.load(); });
    EXPECT_EQ(seen, 100);
    EXPECT_THROW(q->sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
    // The queue keeps working after an exception.
    q->sync([&] { seen = 7; });
    EXPECT_EQ(seen, 7);
}

TEST(DispatchQueueTest, SyncOnTheQueuesOwnThreadRunsInlineInsteadOfDeadlocking) {
    auto q = DispatchQueue::create("test.reentrant");
    auto other = DispatchQueue::create("test.other");
    std::vector<std::string> trace;
    std::promise<void> done;
    q->async([&] {
        q->sync([&] { trace.push_back("inner"); });
        // Through another queue and back again.
        other->sync([&] { q->sync([&] { trace.push_back("nested"); }); });
        trace.push_back("outer");
        done.set_value();
    });
    ASSERT_EQ(done.get_future().wait_for(10s), std::future_status::ready);
    EXPECT_EQ(trace, (std::vector<std::string>{"inner", "nested", "outer"}));
}

TEST(DispatchQueueTest, CurrentLabelNamesTheInnermostRunningQueue) {
    auto q = DispatchQueue::create("GatewayQueue");
    auto inner = DispatchQueue::create("inner");
    EXPECT_EQ(DispatchQueue::currentLabel(), "");
    EXPECT_FALSE(q->isCurrent());
    std::string outerLabel, innerLabel, afterLabel;
    bool outerCurrentInside = false;
    q->sync([&] {
        outerLabel = DispatchQueue::currentLabel();
        inner->sync([&] {
            innerLabel = DispatchQueue::currentLabel();
            outerCurrentInside = q->isCurrent();
        });
        afterLabel = DispatchQueue::currentLabel();
    });
    EXPECT_EQ(outerLabel, "GatewayQueue");
    EXPECT_EQ(innerLabel, "inner");
    EXPECT_TRUE(outerCurrentInside);
    EXPECT_EQ(afterLabel, "GatewayQueue");
    EXPECT_EQ(DispatchQueue::currentLabel(), "");
}

TEST(DispatchQueueTest, MainQueueRunsOnOneThreadOfItsOwn) {
    auto main = DispatchQueue::main();
    EXPECT_EQ(main, DispatchQueue::main());
    EXPECT_FALSE(DispatchQueue::isMainThread());
    std::thread::id first, second;
    bool isMain = false;
    main->sync([&] {
        first = std::this_thread::get_id();
        isMain = DispatchQueue::isMainThread();
    });
    std::promise<std::thread::id> p;
    main->async([&] { p.set_value(std::this_thread::get_id()); });
    second = p.get_future().get();
    EXPECT_EQ(first, second);
    EXPECT_NE(first, std::this_thread::get_id());
    EXPECT_TRUE(isMain);
    EXPECT_EQ(DispatchQueue::global()->kind(), DispatchQueue::concurrent);
    EXPECT_EQ(main->label(), "main");
}

TEST(DispatchQueueTest, QueuedWorkKeepsTheQueueAlive) {
    Event gate, ran;
    {
        auto q = DispatchQueue::create("test.released");
        q->async([gate] { gate.waitReal(); });
        q->async([ran] { ran.set(); });
    }
    gate.set();
    EXPECT_TRUE(ran.waitReal());
}

// All three fall due in one step of the clock, so the order is the queue's alone, however slowly
// the three were scheduled.
TEST(DispatchQueueTest, AsyncAfterRunsInDeadlineOrder) {
    auto clock = std::make_shared<VirtualClock>();
    ScopedClock scoped(clock);
    auto q = DispatchQueue::create("test.after");
    // Shared with the items: the last one still holds the lock when the event wakes the test.
    struct Order {
        std::mutex m;
        std::vector<int> values;
    };
    auto order = std::make_shared<Order>();
    Event done;
    auto add = [order, done](int v) {
        std::lock_guard lock(order->m);
        order->values.push_back(v);
        if (order->values.size() == 3) done.set();
    };
    q->asyncAfter(3.0, [add] { add(3); });
    q->asyncAfter(1.0, [add] { add(1); });
    q->asyncAfter(2.0, [add] { add(2); });
    clock->advance(3.0);
    ASSERT_TRUE(done.waitReal());
    std::lock_guard lock(order->m);
    EXPECT_EQ(order->values, (std::vector<int>{1, 2, 3}));
}

TEST(DispatchQueueTest, AsyncAfterUnderVirtualClockWaitsForTheFullDelay) {
    auto clock = std::make_shared<VirtualClock>();
    ScopedClock scoped(clock);
    auto q = DispatchQueue::create("test.virtual");
    Event late, marker;
    q->asyncAfter(3.0, [late] { late.set(); });
    q->asyncAfter(2.9, [marker] { marker.set(); });
    clock->advance(2.9);
    ASSERT_TRUE(marker.waitReal());
    // Were the 3 s item due, it would have gone out in the same pass and run first.
    q->sync([] {});
    EXPECT_FALSE(late.isSet());
    clock->advance(0.1);
    EXPECT_TRUE(late.waitReal());
}

TEST(DispatchQueueTest, CancelledDelayedWorkNeverRuns) {
    auto clock = std::make_shared<VirtualClock>();
    ScopedClock scoped(clock);
    auto q = DispatchQueue::create("test.cancel");
    Event cancelledRan, marker;
    auto handle = q->asyncAfter(1.0, [cancelledRan] { cancelledRan.set(); });
    q->asyncAfter(1.0, [marker] { marker.set(); });
    handle.cancel();
    clock->advance(1.0);
    ASSERT_TRUE(marker.waitReal());
    q->sync([] {});
    EXPECT_FALSE(cancelledRan.isSet());
}

TEST(DispatchQueueTest, TimersFireOnceOrRepeatUntilInvalidated) {
    auto clock = std::make_shared<VirtualClock>();
    ScopedClock scoped(clock);
    auto q = DispatchQueue::create("test.timer");
    std::mutex m;
    std::condition_variable cv;
    int repeats = 0, once = 0;
    auto waitCount = [&](int& counter, int target) {
        std::unique_lock lock(m);
        return cv.wait_for(lock, 10s, [&] { return counter >= target; });
    };
    auto bump = [&](int& counter) {
        std::lock_guard lock(m);
        ++counter;
        cv.notify_all();
    };
    auto repeating = Timer::schedule(15.0, true, q, [&] { bump(repeats); });
    auto oneShot = Timer::schedule(30.0, false, q, [&] { bump(once); });
    clock->advance(15.0);
    ASSERT_TRUE(waitCount(repeats, 1));
    q->sync([] {});
    clock->advance(15.0);
    ASSERT_TRUE(waitCount(repeats, 2));
    ASSERT_TRUE(waitCount(once, 1));
    EXPECT_FALSE(oneShot->isValid());
    repeating->invalidate();
    q->sync([] {});
    clock->advance(60.0);
    auto marker = std::make_shared<Event>();
    q->asyncAfter(0.5, [marker] { marker->set(); });
    clock->advance(1.0);
    ASSERT_TRUE(marker->waitReal());
    q->sync([] {});
    std::lock_guard lock(m);
    EXPECT_EQ(repeats, 2);
    EXPECT_EQ(once, 1);
}

TEST(DispatchSemaphoreTest, TimedWaitExpiresOnlyWhenVirtualTimeReachesTheDeadline) {
    auto clock = std::make_shared<VirtualClock>();
    ScopedClock scoped(clock);
    DispatchSemaphore sem;
    auto result = std::async(std::launch::async, [&] { return sem.wait(3.0); });
    ASSERT_TRUE(clock->waitForWaiters(1));
    clock->advance(2.999);
    EXPECT_EQ(result.wait_for(20ms), std::future_status::timeout);
    clock->advance(0.001);
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(result.get());
}

TEST(DispatchSemaphoreTest, CountsSignalsAndWakesWaiters) {
    ScopedClock scoped(std::make_shared<ScaledClock>(0.01));
    DispatchSemaphore sem(2);
    EXPECT_TRUE(sem.wait(0.0));
    EXPECT_TRUE(sem.wait(0.0));
    EXPECT_FALSE(sem.wait(0.0));
    EXPECT_FALSE(sem.wait(1.0));  // 10 ms real
    sem.signal();
    EXPECT_TRUE(sem.wait(0.0));

    std::thread t([sem] { sem.signal(); });
    EXPECT_TRUE(sem.wait(1000.0));
    t.join();
}

TEST(DispatchSemaphoreTest, LateSignalAfterTimedOutWaitIsSafe) {
    ScopedClock scoped(std::make_shared<ScaledClock>(0.01));
    Event go;
    std::thread late;
    {
        DispatchSemaphore sem;
        late = std::thread([sem, go] {
            go.waitReal();
            sem.signal();  // the waiter's copy is gone by now
        });
        EXPECT_FALSE(sem.wait(0.5));
    }
    go.set();
    late.join();
}

TEST(DispatchGroupTest, NotifyRunsOnceAfterEveryTaskLeft) {
    auto q = DispatchQueue::create("test.group", DispatchQueue::concurrent);
    auto notifyQueue = DispatchQueue::create("test.notify");
    DispatchGroup group;
    std::atomic<int> finished{0};
    std::promise<int> notified;
    for (int i = 0; i < 20; ++i) group.async(q, [&] { ++finished; });
    group.notify(notifyQueue, [&] { notified.set_value(finished.load()); });
    auto f = notified.get_future();
    ASSERT_EQ(f.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(f.get(), 20);
    EXPECT_TRUE(group.wait(0.0));
}

TEST(DispatchGroupTest, NotifyOnAnEmptyGroupRunsAtOnceAndExtraLeaveIsIgnored) {
    DispatchGroup group;
    group.leave();  // unbalanced: ignored
    Event ran;
    group.notify(DispatchQueue::create("test.empty"), [ran] { ran.set(); });
    EXPECT_TRUE(ran.waitReal());
    group.enter();
    EXPECT_FALSE(group.wait(0.0));
    group.leave();
    EXPECT_TRUE(group.wait(0.0));
}

TEST(DispatchGroupTest, TimedWaitFollowsTheVirtualClock) {
    auto clock = std::make_shared<VirtualClock>();
    ScopedClock scoped(clock);
    DispatchGroup group;
    group.enter();
    auto result = std::async(std::launch::async, [&] { return group.wait(5.0); });
    ASSERT_TRUE(clock->waitForWaiters(1));
    clock->advance(5.0);
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(result.get());
    group.leave();
    EXPECT_TRUE(group.wait(5.0));
}

}  // namespace
}  // namespace qz

namespace qz {
namespace {

// The process may end while queues, timers and observers are still busy: no leak report,
// no crash in static destruction, no hang on a join.
TEST(DispatchExitTest, ProcessExitsCleanlyWithWorkInFlight) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            auto q = DispatchQueue::create("exit.serial");
            DispatchSemaphore never;
            DispatchSemaphore started;
            q->async([never, started] {
                started.signal();
                never.wait();
            });
            q->async([] {});
            started.wait();
            q->asyncAfter(1000.0, [] {});
            Timer::schedule(500.0, true, q, [] {});
            DispatchQueue::main()->async([never] { never.wait(); });
            DispatchQueue::global()->async([never] { never.wait(); });
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace qz
