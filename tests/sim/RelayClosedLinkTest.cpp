// The relay and a link the session reports closed: commands fail at once with notConnected,
// an exchange waiting for its reply ends as the link goes, and none of it counts as a time-out.
// Virtual time that nobody advances: a wait that ends at all ended by the link or a reply.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>

#include "api/Communication/PelkNotifications.hpp"
#include "api/Communication/Relay.hpp"
#include "platform/Clock.hpp"
#include "platform/NotificationCenter.hpp"

using namespace qz;

namespace {

// A sensor whose link the test opens and closes. It answers "OK" at once, or nothing while
// `silent`.
class LinkedSensor : public SensorDelegate {
  public:
    void send(const std::string& cmd) override {
        std::shared_ptr<SensorReceiver> receiver;
        {
            std::lock_guard lock(mutex_);
            sent_.push_back(cmd);
            if (!silent_) receiver = receiver_.lock();
        }
        changed_.notify_all();
        if (receiver) receiver->received("OK\r>");
    }
    void write(const Data&, bool) override {}
    void setReceiver(const std::shared_ptr<SensorReceiver>& receiver) override {
        std::lock_guard lock(mutex_);
        receiver_ = receiver;
    }
    bool isLinkOpen() const override { return open_; }

    void setSilent(bool silent) {
        std::lock_guard lock(mutex_);
        silent_ = silent;
    }
    // The link goes (or, with `stillOpen`, another link of the session goes).
    void close(bool stillOpen = false) {
        open_ = stillOpen;
        if (auto r = receiver()) r->linkClosed();
    }
    void open() { open_ = true; }
    std::shared_ptr<SensorReceiver> receiver() {
        std::lock_guard lock(mutex_);
        return receiver_.lock();
    }
    size_t sentCount() {
        std::lock_guard lock(mutex_);
        return sent_.size();
    }
    // Waits (real time, a bound never meant to expire) for `n` commands.
    bool waitForSent(size_t n) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return sent_.size() >= n; });
    }

  private:
    std::atomic<bool> open_{true};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::weak_ptr<SensorReceiver> receiver_;
    std::vector<std::string> sent_;
    bool silent_ = false;
};

class RelayClosedLink : public ::testing::Test {
  protected:
    void SetUp() override {
        token_ = NotificationCenter::defaultCenter().addObserver(
            PelkNotifications::SENSOR_TIMEDOUT, [this](const Notification&) { ++timedOutPosts_; });
    }
    void TearDown() override { NotificationCenter::defaultCenter().removeObserver(token_); }

    // A send on its own thread, as the gateway's queue would make it.
    std::future<Result<std::string, CommError>> sendAsync(const std::string& command) {
        return std::async(std::launch::async,
                          [this, command] { return relay_->sendToSensor(command); });
    }
    static bool ended(std::future<Result<std::string, CommError>>& f) {
        return f.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    }

    std::shared_ptr<VirtualClock> clock_ = std::make_shared<VirtualClock>();
    ScopedClock scoped_{clock_};
    std::shared_ptr<LinkedSensor> sensor_ = std::make_shared<LinkedSensor>();
    std::shared_ptr<Relay> relay_ = Relay::createWithSensor(sensor_);
    std::atomic<int> timedOutPosts_{0};
    ObserverToken token_ = 0;
};

}  // namespace

TEST_F(RelayClosedLink, CommandsFailAtOnceUntilALinkOpensAgain) {
    EXPECT_EQ(relay_->sendToSensor("KQD").value(), "OK\r>");
    sensor_->close();
    EXPECT_FALSE(relay_->linkOpen());
    // More than the five that would declare a silent sensor dead.
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(relay_->sendToSensor("KQD", false, 2).error(), CommError::notConnected);
    EXPECT_EQ(sensor_->sentCount(), 1u) << "nothing goes out on a closed link";
    EXPECT_EQ(relay_->consectutiveTimeouts(), 0);
    EXPECT_FALSE(relay_->timedOut());
    EXPECT_EQ(timedOutPosts_, 0);
    EXPECT_EQ(clock_->elapsed(), 0.0);

    sensor_->open();
    EXPECT_EQ(relay_->sendToSensor("KQI").value(), "OK\r>");
}

TEST_F(RelayClosedLink, AWaitingExchangeEndsAsTheLinkCloses) {
    sensor_->setSilent(true);
    auto pending = sendAsync("KQTC");
    ASSERT_TRUE(sensor_->waitForSent(1));
    sensor_->close();
    ASSERT_TRUE(ended(pending)) << "the 3 s wait is not waited out";
    EXPECT_EQ(pending.get().error(), CommError::notConnected);
    EXPECT_EQ(clock_->elapsed(), 0.0);
    EXPECT_EQ(relay_->consectutiveTimeouts(), 0);

    // A closing before the wait begins is not missed either: the link is asked first.
    sensor_->open();
    sensor_->close();
    auto late = sendAsync("KQTCP");
    ASSERT_TRUE(ended(late));
    EXPECT_EQ(late.get().error(), CommError::notConnected);
}

TEST_F(RelayClosedLink, AnotherLinkClosingLeavesTheExchangeWaitingForItsReply) {
    sensor_->setSilent(true);
    auto pending = sendAsync("KQI");
    ASSERT_TRUE(sensor_->waitForSent(1));
    sensor_->close(/*stillOpen=*/true);
    EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout)
        << "the current link is open: the reply may still come";
    sensor_->receiver()->received("OSAPI 4.08\r>");
    ASSERT_TRUE(ended(pending));
    EXPECT_EQ(pending.get().value(), "OSAPI 4.08\r>");
}
