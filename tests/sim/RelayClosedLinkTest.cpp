// The relay on a link its session reports closed: commands fail at once with notConnected and
// count as no time-out; a waiting exchange ends as its link goes, and goes on waiting when
// another link of the session goes. Virtual time that nobody advances: a wait that ends at all
// ended by the link or a reply.

#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "api/Communication/Relay.hpp"
#include "platform/Clock.hpp"
#include "sim/SimTestSupport.hpp"
#include "support/TestSupport.hpp"

using namespace qz;
using qz::testsupport::errorOf;

namespace {

// A sensor that answers "OK" at once, or nothing while `silent`; the test closes its link, or
// the sensor does as the relay asks about the link or sends (`closeOnAsk`, `closeOnSend`).
class LinkedSensor : public SensorDelegate {
  public:
    void send(const std::string&) override {
        ++sent;
        if (closeOnSend.exchange(false)) return close();
        if (!silent)
            if (auto r = receiver.lock()) r->received("OK\r>");
    }
    void write(const Data&, bool) override {}
    void setReceiver(const std::shared_ptr<SensorReceiver>& r) override { receiver = r; }
    // Answers as the link was when asked; a closing set up for this question follows at once.
    bool isLinkOpen() const override {
        const bool was = open;
        if (closeOnAsk.exchange(false)) const_cast<LinkedSensor*>(this)->close();
        return was;
    }
    // The link goes, or (`stillOpen`) another link of the session goes.
    void close(bool stillOpen = false) {
        open = stillOpen;
        receiver.lock()->linkClosed();
    }

    std::atomic<bool> open{true}, silent{false}, closeOnSend{false};
    mutable std::atomic<bool> closeOnAsk{false};
    std::atomic<int> sent{0};
    std::weak_ptr<SensorReceiver> receiver;  // set once, before any send
};

class RelayClosedLink : public ::testing::Test {
  protected:
    std::future<Result<std::string, CommError>> sendAsync() {
        return std::async(std::launch::async, [this] { return relay->sendToSensor("KQTC"); });
    }
    // Whether the exchange ended within a few real seconds. One that did not is ended by
    // moving the clock past its waits, so that a failing test does not wait for it forever.
    bool ended(std::future<Result<std::string, CommError>>& f) {
        if (f.wait_for(std::chrono::seconds(5)) == std::future_status::ready) return true;
        for (int i = 0;
             i < 100 && f.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready;
             ++i) {
            clock->advance(Relay::kReplyTimeout);
            relay->received("?\r>");
        }
        return false;
    }

    std::shared_ptr<VirtualClock> clock = std::make_shared<VirtualClock>();
    ScopedClock scoped{clock};
    std::shared_ptr<LinkedSensor> sensor = std::make_shared<LinkedSensor>();
    std::shared_ptr<Relay> relay = Relay::createWithSensor(sensor);
};

}  // namespace

TEST_F(RelayClosedLink, CommandsFailAtOnceUntilALinkOpensAgain) {
    sensor->close();
    // More than the five empty time-outs that would declare a silent sensor dead.
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(errorOf(relay->sendToSensor("KQD", false, 2)), CommError::notConnected);
    EXPECT_EQ(sensor->sent, 0) << "nothing goes out on a closed link";
    EXPECT_EQ(relay->consectutiveTimeouts(), 0);
    EXPECT_FALSE(relay->timedOut());
    EXPECT_EQ(clock->elapsed(), 0.0);
    sensor->open = true;
    EXPECT_EQ(relay->sendToSensor("KQI").value(), "OK\r>");
}

TEST_F(RelayClosedLink, AWaitingExchangeEndsWithItsOwnLinkOnly) {
    sensor->silent = true;
    auto pending = sendAsync();
    ASSERT_TRUE(simtest::eventually([&] { return sensor->sent == 1; }));
    sensor->close(/*stillOpen=*/true);
    EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout)
        << "the current link is open: the reply may still come";
    relay->received("P0420\r>");
    ASSERT_TRUE(ended(pending)) << "the reply does not end the wait";
    EXPECT_EQ(pending.get().value(), "P0420\r>");

    auto lost = sendAsync();
    ASSERT_TRUE(simtest::eventually([&] { return sensor->sent == 2; }));
    sensor->close();
    ASSERT_TRUE(ended(lost)) << "the 3 s wait is not waited out";
    EXPECT_EQ(errorOf(lost.get()), CommError::notConnected);
    EXPECT_EQ(clock->elapsed(), 0.0);
    EXPECT_EQ(relay->consectutiveTimeouts(), 0);
}

TEST_F(RelayClosedLink, ACommandMeetingTheClosingNeitherWaitsNorSucceeds) {
    const struct {
        const char* name;
        bool onAsk, onSend;
        int sent;
    } cases[] = {
        {"the link closes just after the relay found it open", true, false, 0},
        {"the link closes as the command goes out", false, true, 1},
    };
    sensor->silent = true;  // a closed link brings no reply
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sensor->open = true;
        sensor->sent = 0;
        sensor->closeOnAsk = c.onAsk;
        sensor->closeOnSend = c.onSend;
        auto meeting = sendAsync();
        ASSERT_TRUE(ended(meeting)) << "the 3 s wait is not waited out";
        EXPECT_EQ(errorOf(meeting.get()), CommError::notConnected);
        EXPECT_EQ(sensor->sent, c.sent);
    }
    EXPECT_EQ(clock->elapsed(), 0.0);
    EXPECT_EQ(relay->consectutiveTimeouts(), 0);
}

TEST_F(RelayClosedLink, TheQuietPeriodAfterATimeOutEndsWithTheLink) {
    sensor->silent = true;
    auto silent = sendAsync();
    ASSERT_TRUE(clock->waitForWaiters(1));
    clock->advance(Relay::kReplyTimeout);
    ASSERT_TRUE(ended(silent)) << "the time-out does not end the wait";
    EXPECT_EQ(errorOf(silent.get()), CommError::timedOut);

    // The next command waits for the late reply or a quiet second, and the link goes meanwhile.
    auto next = sendAsync();
    ASSERT_TRUE(clock->waitForWaiters(1));
    sensor->close();
    ASSERT_TRUE(ended(next)) << "the quiet period is not waited out";
    EXPECT_EQ(errorOf(next.get()), CommError::notConnected);
    EXPECT_EQ(sensor->sent, 1) << "nothing goes out on the closed link";
    EXPECT_EQ(clock->elapsed(), Relay::kReplyTimeout);
}
