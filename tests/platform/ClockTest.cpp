#include "platform/Clock.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <future>
#include <thread>

namespace qz {
namespace {

using namespace std::chrono_literals;

double realSecondsOf(const std::function<void()>& fn) {
    auto start = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(ClockTest, CurrentIsSystemClockUntilInstalledAndScopedClockRestores) {
    auto original = Clock::current();
    ASSERT_NE(dynamic_cast<SystemClock*>(original.get()), nullptr);
    {
        auto virtualClock = std::make_shared<VirtualClock>();
        ScopedClock scoped(virtualClock);
        EXPECT_EQ(Clock::current(), virtualClock);
        {
            ScopedClock inner(std::make_shared<ScaledClock>(0.5));
            EXPECT_NE(Clock::current(), virtualClock);
        }
        EXPECT_EQ(Clock::current(), virtualClock);
    }
    EXPECT_EQ(Clock::current(), original);
}

TEST(ClockTest, DurationConversionSaturatesAndRejectsNegativeAndNaN) {
    EXPECT_EQ(Clock::toDuration(-1), Clock::Duration::zero());
    EXPECT_EQ(Clock::toDuration(std::nan("")), Clock::Duration::zero());
    EXPECT_DOUBLE_EQ(Clock::toSeconds(Clock::toDuration(1.5)), 1.5);
    // Far deadlines do not overflow the time point.
    SystemClock clock;
    EXPECT_GT(clock.deadlineAfter(1e300), clock.now());
}

TEST(ClockTest, ScaledClockShortensSleepsAndWaitsButKeepsItsOwnTimeline) {
    // 100 s nominal take 50 ms real; the bound leaves room for a loaded machine while
    // an unscaled wait could never meet it.
    ScaledClock clock(0.0005);
    auto before = clock.now();
    double real = realSecondsOf([&] { clock.sleepFor(100.0); });
    EXPECT_LT(real, 20.0);
    EXPECT_GE(Clock::toSeconds(clock.now() - before), 100.0);

    std::mutex m;
    std::condition_variable cv;
    std::unique_lock lock(m);
    bool result = true;
    before = clock.now();
    real = realSecondsOf([&] { result = clock.waitFor(lock, cv, 100.0, [] { return false; }); });
    EXPECT_FALSE(result);
    EXPECT_LT(real, 20.0);
    EXPECT_GE(Clock::toSeconds(clock.now() - before), 100.0);
}

TEST(ClockTest, ScaledClockWaitReturnsAsSoonAsThePredicateHolds) {
    ScaledClock clock(0.05);
    std::mutex m;
    std::condition_variable cv;
    bool ready = false;
    std::thread t([&] {
        std::lock_guard lock(m);
        ready = true;
        cv.notify_all();
    });
    std::unique_lock lock(m);
    EXPECT_TRUE(clock.waitFor(lock, cv, 1000.0, [&] { return ready; }));
    lock.unlock();
    t.join();
}

TEST(ClockTest, VirtualClockMovesOnlyWhenAdvanced) {
    VirtualClock clock;
    auto t0 = clock.now();
    auto w0 = clock.wallNow();
    std::this_thread::sleep_for(2ms);
    EXPECT_EQ(clock.now(), t0);
    clock.advance(2.5);
    EXPECT_DOUBLE_EQ(Clock::toSeconds(clock.now() - t0), 2.5);
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(clock.wallNow() - w0).count(),
              2500);
    clock.advance(-4);
    EXPECT_DOUBLE_EQ(clock.elapsed(), 2.5);
}

TEST(ClockTest, VirtualClockSleeperWakesOnlyWhenTimeReachesItsDeadline) {
    auto clock = std::make_shared<VirtualClock>();
    auto done = std::async(std::launch::async, [&] { clock->sleepFor(5.0); });
    ASSERT_TRUE(clock->waitForWaiters(1));
    clock->advance(4.9);
    EXPECT_EQ(done.wait_for(20ms), std::future_status::timeout);
    clock->advance(0.1);
    EXPECT_EQ(done.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(clock->waiterCount(), 0u);
}

TEST(ClockTest, VirtualClockTimedWaitExpiresOnAdvanceAndHonoursThePredicate) {
    auto clock = std::make_shared<VirtualClock>();
    std::mutex m;
    std::condition_variable cv;
    bool flag = false;

    auto expired = std::async(std::launch::async, [&] {
        std::unique_lock lock(m);
        return clock->waitFor(lock, cv, 3.0, [&] { return flag; });
    });
    ASSERT_TRUE(clock->waitForWaiters(1));
    clock->advance(2.0);
    EXPECT_EQ(expired.wait_for(20ms), std::future_status::timeout);
    clock->advance(1.0);
    ASSERT_EQ(expired.wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(expired.get());

    auto satisfied = std::async(std::launch::async, [&] {
        std::unique_lock lock(m);
        return clock->waitFor(lock, cv, 3.0, [&] { return flag; });
    });
    ASSERT_TRUE(clock->waitForWaiters(1));
    {
        std::lock_guard lock(m);
        flag = true;
    }
    cv.notify_all();
    ASSERT_EQ(satisfied.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(satisfied.get());
}

}  // namespace
}  // namespace qz
