#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <map>
#include <optional>
#include <thread>

#include "api/Communication/PelkNotifications.hpp"
#include "api/Communication/Relay.hpp"
#include "api/PIDs/PIDRequest.hpp"
#include "platform/Clock.hpp"
#include "platform/DispatchQueue.hpp"
#include "platform/NotificationCenter.hpp"
#include "sim/FakeSensorLink.hpp"
#include "sim/SimTestSupport.hpp"
#include "support/TestSupport.hpp"

using namespace qz;
using namespace qz::sim;
using qz::testsupport::errorOf;

namespace {

// One tenth of real time: the 3-second wait lasts 300 ms, ample for a reply that must come.
class RelayTest : public ::testing::Test {
  protected:
    ScopedClock clock_{std::make_shared<ScaledClock>(0.1)};
    std::shared_ptr<FakeSensorLink> link_ = FakeSensorLink::create();
    std::shared_ptr<Relay> relay_ = Relay::createWithSensor(link_);
    SensorCore& core() { return link_->core(); }
};

// A sensor whose input the test plays by hand.
class ManualSensor : public SensorDelegate {
  public:
    void send(const std::string& cmd) override {
        std::lock_guard lock(mutex_);
        sent_.push_back(cmd);
    }
    void write(const Data& fwdata, bool useFwDelegate) override {
        std::lock_guard lock(mutex_);
        ++writes_;
    }
    void setReceiver(const std::shared_ptr<SensorReceiver>&) override {}
    std::vector<std::string> sent() {
        std::lock_guard lock(mutex_);
        return sent_;
    }
    int writes() {
        std::lock_guard lock(mutex_);
        return writes_;
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> sent_;
    int writes_ = 0;
};

// A sensor whose answers are written out: each command's chunks, each that many seconds after
// the command came. `run` hands them to the relay as a virtual clock reaches them.
class ScriptedSensor : public SensorDelegate {
  public:
    struct Chunk {
        double after;
        std::string text;
    };
    explicit ScriptedSensor(std::shared_ptr<VirtualClock> clock) : clock_(std::move(clock)) {}

    void answer(const std::string& command, std::vector<Chunk> chunks) {
        std::lock_guard lock(mutex_);
        script_[command] = std::move(chunks);
    }
    void send(const std::string& cmd) override {
        std::lock_guard lock(mutex_);
        for (const auto& chunk : script_[cmd.substr(0, cmd.find('\r'))])
            due_.emplace(clock_->now() + Clock::toDuration(chunk.after), chunk.text);
    }
    void write(const Data&, bool) override {}
    void setReceiver(const std::shared_ptr<SensorReceiver>& receiver) override {
        receiver_ = receiver;
    }

    // Runs `exchanges` on another thread and moves the clock from one event to the next: the
    // deadline of the wait on it or the next chunk, whichever comes first (a deadline before a
    // chunk due with it). Each deadline and each chunk that ends a reply is taken in by the relay
    // before the clock moves on.
    template <class F>
    auto run(F exchanges) {
        auto result = std::async(std::launch::async, std::move(exchanges));
        auto done = [&] {
            return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        };
        // The deadline the clock last moved to (none: min()).
        const auto none = Clock::TimePoint::min();
        Clock::TimePoint reached = none;
        while (simtest::eventually([&] { return done() || clock_->nextDeadline(); }) && !done()) {
            const auto wait = clock_->nextDeadline();
            if (!wait) continue;  // it ended meanwhile
            const uint64_t ended = clock_->waitsEnded();
            if (reached != none && *wait == reached + Clock::toDuration(Relay::kMainQueueWait)) {
                // Past its reply's deadline the relay looks behind the main queue: the look runs
                // before anything else happens.
                reached = none;
                DispatchQueue::main()->sync([] {});
                EXPECT_TRUE(simtest::eventually([&] { return clock_->waitsEnded() > ended; }));
                continue;
            }
            std::string text;  // the chunk handed over now, if one comes first
            {
                std::lock_guard lock(mutex_);
                const bool chunkFirst = !due_.empty() && due_.begin()->first < *wait;
                const auto at = chunkFirst ? due_.begin()->first : *wait;
                clock_->advance(Clock::toSeconds(at - clock_->now()));
                if (chunkFirst) {
                    text = due_.begin()->second;
                    due_.erase(due_.begin());
                    reached = none;
                } else {
                    reached = at;
                }
            }
            if (!text.empty()) {
                // Handed over on the main queue, as the sessions do.
                DispatchQueue::main()->sync([&] {
                    if (auto receiver = receiver_.lock()) receiver->received(text);
                });
                if (text.find('>') == std::string::npos) continue;
            }
            EXPECT_TRUE(simtest::eventually([&] { return clock_->waitsEnded() > ended; }));
        }
        return result.get();
    }

  private:
    std::shared_ptr<VirtualClock> clock_;
    std::weak_ptr<SensorReceiver> receiver_;
    std::mutex mutex_;
    std::map<std::string, std::vector<Chunk>> script_;
    std::multimap<Clock::TimePoint, std::string> due_;
};

}  // namespace

TEST_F(RelayTest, ReturnsTheReplyVerbatimAcrossChunks) {
    core().addFault(Fault::split(3, 0.2));
    auto r = relay_->sendToSensor("KQI");
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, "OSAPI 4.05\r>");
    EXPECT_EQ(core().commands(), std::vector<std::string>{"KQI"});

    core().addFault(Fault::trailing("\rZZ"));
    r = relay_->sendToSensor("KQD");
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, "OK\r>\rZZ");

    core().setEcho(true);
    r = relay_->sendToSensor("010C");
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, "010C\r1A F8 \r>");
}

TEST_F(RelayTest, RetriesOnlyWhileTheReplyHoldsNoData) {
    core().addFault(Fault::noData(-1, "010C"));
    auto r = relay_->sendToSensor("010C", false, 2);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, "NO DATA\r>");
    EXPECT_EQ(core().commands().size(), 3u);

    core().clearCommands();
    r = relay_->sendToSensor("010C", false, -4);  // a negative count is taken as 0
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(core().commands().size(), 1u);

    core().clearFaults();
    core().clearCommands();
    core().addFault(Fault::noData(1, "010C"));
    r = relay_->sendToSensor("010C", false, 5);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, "1A F8 \r>");
    EXPECT_EQ(core().commands().size(), 2u);

    // The sensor's word without its blank.
    core().clearCommands();
    core().addFault(Fault::reply("NODATA\r>", 1, "010C"));
    r = relay_->sendToSensor("010C", false, 1);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, "1A F8 \r>");
    EXPECT_EQ(core().commands().size(), 2u);
}

TEST_F(RelayTest, FoldsMultipleResponsesOnlyWhenAsked) {
    core().setProfile(VehicleProfile::load(VehicleProfile::sampleFolder() / "two-ecus-can.json"));
    ASSERT_TRUE(relay_->sendToSensor("KQX1").has_value());
    auto raw = relay_->sendToSensor("0100");
    ASSERT_TRUE(raw.has_value());
    EXPECT_EQ(*raw, "80 18 00 00 \r88 08 00 00 \r>");
    auto folded = relay_->sendToSensor("0100", true, 0, MultiResponseStrategy::bitwiseOr);
    ASSERT_TRUE(folded.has_value());
    EXPECT_EQ(*folded, "88 18 00 00");
}

TEST_F(RelayTest, FiveEmptyTimeOutsInARowDeclareTheSensorDead) {
    std::atomic<int> posts{0};
    std::thread::id postThread;
    auto token = NotificationCenter::defaultCenter().addObserver(
        PelkNotifications::SENSOR_TIMEDOUT, [&](const Notification&) {
            ++posts;
            postThread = std::this_thread::get_id();
        });
    core().addFault(Fault::silence(-1, "KQI"));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(errorOf(relay_->sendToSensor("KQI")), CommError::timedOut);
    EXPECT_EQ(relay_->consectutiveTimeouts(), 4);
    EXPECT_TRUE(relay_->sendToSensor("KQD").has_value());
    EXPECT_EQ(relay_->consectutiveTimeouts(), 0);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(errorOf(relay_->sendToSensor("KQI")), CommError::timedOut);
    EXPECT_FALSE(relay_->timedOut());
    EXPECT_TRUE(relay_->linkOpen());
    EXPECT_EQ(posts.load(), 0);
    EXPECT_EQ(errorOf(relay_->sendToSensor("KQI")), CommError::timedOut);
    EXPECT_TRUE(relay_->timedOut());
    // Gone for every caller, whatever the session says while it closes the link.
    EXPECT_FALSE(relay_->linkOpen());
    EXPECT_EQ(posts.load(), 1);
    EXPECT_EQ(postThread, std::this_thread::get_id());

    core().clearCommands();
    EXPECT_EQ(errorOf(relay_->sendToSensor("KQD")), CommError::timedOut);
    EXPECT_TRUE(core().commands().empty());  // nothing sent in the timed-out state

    NotificationCenter::defaultCenter().post(PelkNotifications::SENSOR_CONNECT_STARTED);
    EXPECT_FALSE(relay_->timedOut());
    EXPECT_TRUE(relay_->linkOpen());
    EXPECT_TRUE(relay_->sendToSensor("KQD").has_value());
    NotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(RelayTest, ATimeOutAfterNoDataIsNotAnEmptyTimeOut) {
    core().addFault(Fault::noData(1, "010C"));
    core().addFault(Fault::silence(1, "010C").after(1));  // the retry goes unanswered
    EXPECT_EQ(errorOf(relay_->sendToSensor("010C", false, 1)), CommError::timedOut);
    EXPECT_EQ(core().commands().size(), 2u);
    EXPECT_EQ(relay_->consectutiveTimeouts(), 0);
}

TEST_F(RelayTest, ALateReplyIsNotTakenForTheNextOne) {
    // The answer to KQI comes 4 s late, after its 3-second wait.
    core().addFault(Fault::delay(4.0, 1, "KQI"));
    EXPECT_EQ(errorOf(relay_->sendToSensor("KQI")), CommError::timedOut);
    EXPECT_EQ(relay_->timedOutPart(), "");
    Clock::current()->sleepFor(6.0);  // the late reply has arrived by now
    auto r = relay_->sendToSensor("KQDP");
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, "6\r>");
    EXPECT_EQ(relay_->consectutiveTimeouts(), 0);

    // Its second half comes 4 s after the first: the first is kept, the time-out still counts
    // as one without a reply, and the next command gets only its own answer.
    core().addFault(Fault::split(2, 4.0, 1, "KQI"));
    EXPECT_EQ(errorOf(relay_->sendToSensor("KQI")), CommError::timedOut);
    EXPECT_EQ(relay_->timedOutPart(), "OSAPI ");
    EXPECT_EQ(relay_->consectutiveTimeouts(), 1);
    Clock::current()->sleepFor(6.0);
    r = relay_->sendToSensor("KQDP");
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, "6\r>");
    EXPECT_EQ(relay_->timedOutPart(), "");
}

TEST_F(RelayTest, MasksTheWiFiPasswordInLogsButNotOnTheWire) {
    EXPECT_EQ(Relay::maskedForLog("KQA$ config wifi p0 pw \"HUNTER2\""),
              "KQA$ config wifi p0 pw \"***\"");
    EXPECT_EQ(Relay::maskedForLog("KQA$ config wifi p0 ssid \"HOME\""),
              "KQA$ config wifi p0 ssid \"HOME\"");
    // An echoed command in a reply: the value is masked up to its line end, the rest stays.
    EXPECT_EQ(Relay::maskedForLog("KQA$ config wifi p0 pw \"HUNTER2\"\rOK\r>"),
              "KQA$ config wifi p0 pw \"***\"\rOK\r>");
    ASSERT_TRUE(relay_->sendToSensor("KQA$ config wifi p0 pw \"HUNTR2\"").has_value());
    EXPECT_EQ(core().commands().back(), "KQA$ config wifi p0 pw \"HUNTR2\"");
}

TEST(RelayMask, TheWholeValueIsMaskedWhateverTheBlanksAndLineBreaks) {
    struct Case {
        std::string text, password, masked;
    };
    const std::string cmd = "KQA$ config wifi p0 pw ";
    const std::vector<Case> cases = {
        {"KQA$ config wifi p0 pw\t\"S3CRET\"", "", "KQA$ config wifi p0 pw\t\"***\""},
        {"KQA$ CONFIG  Wifi\tP0 pw \t \"S3CRET\"", "", "KQA$ CONFIG  Wifi\tP0 pw \t \"***\""},
        {cmd + "\"S3\nCRET\"", "", cmd + "\"***\""},
        {cmd + "\"S3\nCRET\"\rOK\r>", "", cmd + "\"***\"\rOK\r>"},
        // The exchange's own value is masked whole, carriage returns inside and all.
        {cmd + "\"S3\rCRET\"", "\"S3\rCRET\"", cmd + "\"***\""},
        {cmd + "\"S3\r?\rCRET\"\r?\r>", "\"S3\rCRET\"", cmd + "\"***\"\r?\r\"***\"\r?\r>"},
        {"KQA$ config wifi p0 ssid \"pw \"", "", "KQA$ config wifi p0 ssid \"pw \""},
        {"KQA$ config wifi p0 pw", "", "KQA$ config wifi p0 pw"},
        {"OK\r>", "\"S3CRET\"", "OK\r>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Relay::maskedForLog(c.text, c.password), c.masked) << c.text;
    EXPECT_EQ(Relay::passwordOf(cmd + "\"a b\tc\""), "\"a b\tc\"");
    EXPECT_EQ(Relay::passwordOf("KQA$ config wifi p0 ssid \"x\""), "");
}

// On a clock that moves only when told: after a time-out, the next command goes out only once
// the late reply's prompt is in or the link has been quiet for a second; none of the late reply
// (nor the part of it that came before the time-out) reaches the next answer.
TEST(RelaySettle, TheNextCommandWaitsOutTheLateReplyAndGetsOnlyItsOwn) {
    auto clock = std::make_shared<VirtualClock>();
    ScopedClock scoped(clock);
    auto sensor = std::make_shared<ManualSensor>();
    auto relay = Relay::createWithSensor(sensor);
    auto send = [&](const std::string& command) {
        return std::async(std::launch::async,
                          [relay, command] { return relay->sendToSensor(command); });
    };
    auto sent = [&](size_t n) {
        return simtest::eventually([&] { return sensor->sent().size() == n; });
    };

    auto first = send("010C");
    ASSERT_TRUE(sent(1));
    relay->received("41 0C 1A");  // part of the answer, no prompt
    ASSERT_TRUE(clock->waitForWaiters(1));
    clock->advance(3.0);
    EXPECT_EQ(errorOf(first.get()), CommError::timedOut);

    auto second = send("010D");
    ASSERT_TRUE(clock->waitForWaiters(1));
    clock->advance(0.6);
    relay->received(" F8 \r");  // more of the late answer: dropped, the link is not quiet yet
    ASSERT_TRUE(clock->waitForWaiters(1));
    clock->advance(0.6);
    ASSERT_TRUE(clock->waitForWaiters(1));
    EXPECT_EQ(sensor->sent().size(), 1u);
    relay->received(">");  // its prompt: the next command goes out at once
    ASSERT_TRUE(sent(2));
    EXPECT_EQ(sensor->sent()[1], "010D\r");
    relay->received("41 0D 32 \r>");
    auto answer = second.get();
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(*answer, "41 0D 32 \r>");

    // A late answer that never comes: one quiet second, then the next command.
    auto third = send("0105");
    ASSERT_TRUE(sent(3));
    ASSERT_TRUE(clock->waitForWaiters(1));
    clock->advance(3.0);
    EXPECT_EQ(errorOf(third.get()), CommError::timedOut);
    auto fourth = send("0105");
    ASSERT_TRUE(clock->waitForWaiters(1));
    clock->advance(0.9);
    ASSERT_TRUE(clock->waitForWaiters(1));
    EXPECT_EQ(sensor->sent().size(), 3u);
    clock->advance(0.1);
    ASSERT_TRUE(sent(4));
    relay->received("41 05 7B \r>");
    EXPECT_EQ(fourth.get().value(), "41 05 7B \r>");
}

// A reply that comes after its time-out is never taken for the next command's answer: within the
// settling it is dropped; after it, while the next command waits, it is told apart by the
// answer's marks: the command's echo, or what the live read knows of its answer (the PID it
// names, or without names its length). On a clock that moves only from one event to the next.
TEST(RelayLate, ALateReplyAfterTheTimeOutIsNotTakenForTheNextCommand) {
    using Chunks = std::vector<ScriptedSensor::Chunk>;
    // The relay alone, or the live read of 010D (PIDRequest) on a sensor that names the service
    // and PID ("KQRP1") or one that does not.
    enum class Reader { relay, named, unnamed };
    struct Case {
        const char* name;
        bool echo;  // the sensor echoes commands
        Reader reader;
        // 010C's answer and 010D's, in chunks: [seconds after the command, part of the answer].
        std::vector<std::pair<double, size_t>> rpm;
        std::vector<std::pair<double, size_t>> speed;
        std::optional<std::string> answer;  // none: 010D fails with `error`
        CommError error = CommError::timedOut;
        // A later command the sensor leaves unanswered: it times out, handed nothing set aside
        // for 010D.
        bool thenUnanswered = false;
    };
    const auto whole = std::string::npos;
    const std::vector<Case> cases = {
        // 010C's answer comes 3.2 s after it was sent, in the settling; 010D is answered half a
        // second after it goes out.
        {"late within the settling",
         false,
         Reader::relay,
         {{3.2, whole}},
         {{0.5, whole}},
         "32 \r>"},
        // 010C stalls: its rest comes 6 s after its first part, once 010D went out (a quiet second
        // after the time-out); 010D is answered 2.5 s after it goes out.
        {"a stalled answer's rest before the echo",
         true,
         Reader::relay,
         {{0, 6}, {6.0, whole}},
         {{2.5, whole}},
         "010D\r32 \r>",
         CommError::timedOut,
         true},
        {"a stalled answer's rest, not naming the PID asked",
         false,
         Reader::named,
         {{0, 7}, {6.0, whole}},
         {{2.5, whole}},
         "32 \r>"},
        {"a late whole answer, not naming the PID asked",
         false,
         Reader::named,
         {{6.0, whole}},
         {{2.5, whole}},
         "32 \r>"},
        // The rest the read's check refused is no answer at the deadline either.
        {"a stalled answer's rest, and no answer",
         false,
         Reader::named,
         {{0, 7}, {6.0, whole}},
         {},
         std::nullopt},
        // Set aside for want of the echo, the rest is not the live read's answer at the deadline.
        {"a stalled answer's rest before the echo, the answer after the deadline",
         true,
         Reader::unnamed,
         {{0, 6}, {6.0, whole}},
         {{3.5, whole}},
         std::nullopt},
        // Without names or echo: the rest ("8") cannot be a speed.
        {"a stalled answer's rest, no speed",
         false,
         Reader::unnamed,
         {{0, 4}, {6.0, whole}},
         {{2.5, whole}},
         "32 \r>"},
        // 010D's answer comes first: either may be its answer.
        {"a stalled answer's rest after the answer",
         false,
         Reader::unnamed,
         {{0, 4}, {6.0, whole}},
         {{0.5, whole}},
         std::nullopt,
         CommError::invalidData},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto clock = std::make_shared<VirtualClock>();
        ScopedClock scoped(clock);
        auto sensor = std::make_shared<ScriptedSensor>(clock);
        auto relay = Relay::createWithSensor(sensor);
        // An answer as the sensor prints it ("010C\r41 0C 1A F8 \r>"), cut at the given lengths.
        auto answer = [&](const std::string& command, const std::string& bytes,
                          const std::vector<std::pair<double, size_t>>& parts) {
            const bool named = c.reader == Reader::named && command.starts_with("01");
            const std::string text = (c.echo ? command + "\r" : "") +
                                     (named ? "41 " + command.substr(2) + " " : "") + bytes + "\r>";
            Chunks chunks;
            size_t from = 0;
            for (const auto& [after, length] : parts) {
                chunks.push_back({after, text.substr(from, length)});
                from = length == whole ? text.size() : from + length;
            }
            sensor->answer(command, chunks);
        };
        answer("KQI", "OSAPI 4.05", {{0, whole}});
        answer("010C", "1A F8 ", c.rpm);
        answer("010D", "32 ", c.speed);
        struct Outcome {
            Result<std::string, CommError> rpm, speed;
            int64_t timeOuts;
            int64_t timeOutsAfter = 0;  // after the speed's read
            std::optional<Result<std::string, CommError>> later;
        };
        auto outcome = sensor->run([&] {
            EXPECT_TRUE(relay->sendToSensor("KQI").has_value());
            auto rpm = relay->sendToSensor("010C");
            const int64_t timeOuts = relay->consectutiveTimeouts();
            const PIDRequest speed{0x01, 0x0D, 1};
            Outcome out{rpm,
                        c.reader == Reader::relay ? relay->sendToSensor("010D")
                                                  : speed.ask(*relay, c.reader == Reader::named),
                        timeOuts, 0, std::nullopt};
            out.timeOutsAfter = relay->consectutiveTimeouts();
            if (c.thenUnanswered) out.later = relay->sendToSensor("0105");
            return out;
        });
        EXPECT_EQ(errorOf(outcome.rpm), CommError::timedOut);
        if (!outcome.speed) {
            EXPECT_FALSE(c.answer) << describe(outcome.speed.error());
            EXPECT_EQ(outcome.speed.error(), c.error);
        } else {
            EXPECT_EQ(*outcome.speed, c.answer.value_or("no answer"));
        }
        // A sensor that sent the late reply is not silent.
        const bool silent = !c.answer && c.error == CommError::timedOut;
        EXPECT_EQ(outcome.timeOutsAfter, silent ? outcome.timeOuts : 0);
        if (c.thenUnanswered) {
            ASSERT_TRUE(outcome.later.has_value());
            EXPECT_EQ(errorOf(*outcome.later), CommError::timedOut);
        }
    }
}

// The answer, read on the main queue in a turn queued before the link took the command (as a
// stream's earlier turn reads every byte that has come by then), is still that command's answer:
// nothing earlier was due.
TEST_F(RelayTest, AnAnswerReadInAnEarlierMainQueueTurnIsTheCommandsOwn) {
    class EarlyTurnSensor : public SensorDelegate {
      public:
        void send(const std::string&) override {}
        void handOver(const std::string&, const Handing& handing) override {
            auto answered = std::make_shared<std::promise<void>>();
            DispatchQueue::main()->async([came = answered->get_future().share(), weak = receiver_] {
                came.wait();
                if (auto receiver = weak.lock()) receiver->received("OSAPI 4.05\r>");
            });
            if (handing) handing();
            answered->set_value();
        }
        void write(const Data&, bool) override {}
        void setReceiver(const std::shared_ptr<SensorReceiver>& receiver) override {
            receiver_ = receiver;
        }

      private:
        std::weak_ptr<SensorReceiver> receiver_;
    };
    auto relay = Relay::createWithSensor(std::make_shared<EarlyTurnSensor>());
    for (int exchange = 0; exchange < 3; ++exchange) {
        const auto reply = relay->sendToSensor("KQI");
        ASSERT_TRUE(reply.has_value()) << describe(reply.error());
        EXPECT_EQ(*reply, "OSAPI 4.05\r>");
    }
}

TEST_F(RelayTest, NoSensorMeansNoDelegate) {
    auto relay = Relay::createWithSensor(nullptr);
    EXPECT_EQ(errorOf(relay->sendToSensor("KQD")), CommError::noDelegate);
    EXPECT_EQ(errorOf(relay->sendFwModeCommand(SensorCore::recoveryProbe())),
              CommError::noDelegate);
    EXPECT_EQ(errorOf(relay->writeFw(Data(30), 1)), CommError::noDelegate);
    EXPECT_TRUE(relay->awaitingFwResponse());
}

TEST_F(RelayTest, RecoveryProbeSucceedsOnABareS) {
    auto r = relay_->sendFwModeCommand(SensorCore::recoveryProbe());
    EXPECT_EQ(errorOf(r), CommError::timedOut);  // a working sensor ignores the probe
    core().setFirmwareMode(true);
    r = relay_->sendFwModeCommand(SensorCore::recoveryProbe());
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, "s");
    EXPECT_EQ(relay_->consectutiveTimeouts(), 0);
}

TEST_F(RelayTest, FirmwareBlocksCompleteOnTheirAcknowledgements) {
    core().setFirmwareMode(true);
    Data block;
    for (uint8_t type : {0x01, 0x01, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x04}) {
        block.push_back(type);
        block.insert(block.end(), 14, 0x5A);
    }
    auto r = relay_->writeFw(block, 2);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, "CCKKKKKKKD");
    EXPECT_TRUE(relay_->awaitingFwResponse());
    EXPECT_EQ(core().firmwareFrames().size(), 10u);

    // Surplus acknowledgements never bring the counters back to zero.
    core().addFault(Fault::silence());
    r = relay_->writeFw(Data(block.begin(), block.begin() + 15 * 2), 0);
    EXPECT_EQ(errorOf(r), CommError::timedOut);
}

TEST(RelayFirmware, CountsAcknowledgementsSpreadOverChunks) {
    ScopedClock clock(std::make_shared<ScaledClock>(0.1));
    auto sensor = std::make_shared<ManualSensor>();
    auto relay = Relay::createWithSensor(sensor);
    std::thread feeder([&] {
        while (sensor->writes() == 0) std::this_thread::yield();
        relay->received("CKKKK");
        relay->received("DKKKC");
    });
    auto r = relay->writeFw(Data(150, 0x11), 2);
    feeder.join();
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, "CKKKKDKKKC");
    // The next ordinary send leaves acknowledgement counting.
    std::thread answer([&] {
        while (sensor->sent().empty()) std::this_thread::yield();
        relay->received("OK\r>");
    });
    auto ok = relay->sendToSensor("KQD");
    answer.join();
    ASSERT_TRUE(ok.has_value());
    EXPECT_EQ(*ok, "OK\r>");
    EXPECT_EQ(sensor->sent(), std::vector<std::string>{"KQD\r"});
}

TEST(RelayClock, TheReplyDeadlineRunsOnTheInjectedMonotonicClock) {
    auto clock = std::make_shared<VirtualClock>();
    ScopedClock scoped(clock);
    auto link = FakeSensorLink::create();
    link->core().addFault(Fault::silence());
    auto relay = Relay::createWithSensor(link);
    std::atomic<bool> done{false};
    Result<std::string, CommError> result = std::string();
    std::thread sender([&] {
        result = relay->sendToSensor("KQI");
        done = true;
    });
    ASSERT_TRUE(clock->waitForWaiters(1));
    clock->advance(2.9);
    ASSERT_TRUE(clock->waitForWaiters(1));
    EXPECT_FALSE(done.load());  // real time passing does not end the wait; only the clock does
    clock->advance(0.2);
    sender.join();
    EXPECT_EQ(errorOf(result), CommError::timedOut);
}
