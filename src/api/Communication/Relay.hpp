#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api/Communication/CommError.hpp"
#include "api/Communication/SensorDelegate.hpp"
#include "api/Communication/SensorReceiver.hpp"
#include "api/PIDs/Enums/MultiResponseStrategy.hpp"
#include "platform/Clock.hpp"
#include "platform/NotificationCenter.hpp"
#include "platform/Result.hpp"

namespace qz {

class SessionController;

// The command relay: turns the sensor link into a blocking request/reply service.
//
// Every text exchange with the sensor goes through `sendToSensor`: the command goes out
// with one carriage return appended, and the call blocks until a received chunk that
// itself holds the prompt ">" completes the reply (at most 3 seconds per transmission on
// the installed `Clock`, counted from the moment the session's link took the command: a
// BLE write waits its turn on the main queue). The reply comes back verbatim: every chunk
// since the transmission, concatenated, up to and including the chunk with ">" (echo,
// carriage returns and anything after the ">" in that chunk included).
//
// - The command is sent again only while the reply holds "NO DATA" (in any spacing), at most
//   `noDataRetryCount` more times (a negative count counts as 0); when every try answered
//   "NO DATA" the call succeeds with that text. `CommError::noData` is never returned.
// - A transmission that receives nothing within 3 seconds fails with `timedOut` (a reply that
//   came in time and still waits on the main queue, where the session hands replies over, is
//   not late: the wait ends once that queue has run what it held); the fifth
//   such empty time-out in a row (counted across calls, reset by any success) puts the relay
//   in its timed-out state and posts "DeviceTimedOut" synchronously on the sending thread
//   (the session controller disconnects inside that post). In that state `sendToSensor`
//   fails at once until "DeviceConnectStarted" is posted (`resetTimeOut`).
// - The main queue is waited for at most `kMainQueueWait` past the reply's wait, in all: for
//   the link to take the command and for what it holds. A main queue still held at that bound
//   ends the exchange without a known answer (`answerUnknown`): `timedOut`, no empty time-out,
//   the part that came kept (`timedOutPart`); a command the link had not taken is not sent,
//   and an answer still held is waited out as a late reply.
// - Once the session has said its link closed (`linkClosed`), `sendToSensor` fails at once
//   with `notConnected` until a link is open again, and an exchange waiting for its reply
//   ends with `notConnected` as the link goes. These failures count as no time-out.
// - After a time-out the relay does not transmit again until the late reply's prompt has
//   arrived, the link has stayed quiet for `kSettleTime` with the main queue run (at most
//   `kReplyTimeout` in all) or the link has closed (the command then fails with
//   `notConnected`); what arrives meanwhile is discarded, so a late reply is never taken as the
//   answer to the next command, and no part of it is left in front of that answer. What came of the
//   reply before the time-out is kept (`timedOutPart`).
// - A late reply that comes after that, while the next command waits, is told apart where the
//   answer carries a mark of its own: a sensor that echoes commands puts the command before its
//   answer, so a reply without the echo of the command sent is the rest of an earlier one; and a
//   caller may say what its answer holds (`ReplyCheck`: a live-data answer names its PID). Such
//   a reply is set aside and the wait goes on; when nothing else comes before the deadline, one
//   set aside for want of the echo alone is handed over after all (the link then settles before
//   the next transmission, the command's own answer being possibly still due), and one the
//   caller's check refused is none: the command times out. Such a time-out looks out for no more
//   late replies than before (one set aside may have been the command's own answer, the late one
//   lost); the link settles all the same. Without a mark a late rest cannot be told from an
//   answer (both are bytes and a prompt) and is handed over as the reply, as it came.
//
// Firmware mode: `sendFwModeCommand` writes one raw frame (the recovery probe, answered by
// a bare "s"); `writeFw` writes one raw block and completes when the expected 'C' and
// 'K'/'D' acknowledgements have all arrived.
//
// One exchange at a time: callers serialise (the gateway's serial queue does). The
// session's delivery thread calls `received`; the shared state is guarded.
class Relay : public SensorReceiver, public std::enable_shared_from_this<Relay> {
  public:
    // Seconds one transmission waits for its reply.
    static constexpr double kReplyTimeout = 3.0;
    // Empty time-outs in a row that declare the sensor dead.
    static constexpr int64_t kTimeoutsBeforeDisconnect = 5;
    // Seconds of silence after a time-out before the next transmission.
    static constexpr double kSettleTime = 1.0;
    // Late replies looked out for at most (each time-out adds one until its prompt comes).
    static constexpr int64_t kLateRepliesKept = 3;
    // Seconds the main queue is waited for at most past the reply's wait.
    static constexpr double kMainQueueWait = 10.0;

    // A relay over `sessionController` (its `bt` and `sensor`); registers itself as the
    // controller's receiver and observes "DeviceConnectStarted".
    static std::shared_ptr<Relay> create(std::shared_ptr<SessionController> sessionController);
    // A relay that sends straight to `sensor` (no session controller); for tests and tools.
    // A null `sensor` gives a relay that answers `noDelegate`.
    static std::shared_ptr<Relay> createWithSensor(std::shared_ptr<SensorDelegate> sensor);

    ~Relay() override;
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // Whether a complete reply is the answer to the command sent (as it came, before folding);
    // false: the rest of an earlier answer, which came late.
    using ReplyCheck = std::function<bool(std::string_view reply)>;

    // One exchange; blocks. `command` is given without a line ending. `isAnswer`, when given,
    // tells the command's answer from a late reply while a late reply is still due.
    Result<std::string, CommError> sendToSensor(const std::string& command,
                                                bool multipleResponess = false,
                                                int noDataRetryCount = 0,
                                                MultiResponseStrategy strategy = {},
                                                const ReplyCheck& isAnswer = {});

    // One raw firmware-mode frame; blocks. A bare "s" left in the buffer at the time-out
    // is the recovery probe's answer and counts as success.
    Result<std::string, CommError> sendFwModeCommand(const Data& data);

    // One raw firmware block; blocks until `acksExpected` 'C' and (bytes / 15 -
    // `acksExpected`) 'K'/'D' acknowledgements have arrived.
    Result<std::string, CommError> writeFw(const Data& data, int64_t acksExpected);

    // SensorReceiver: one descrambled chunk, on the session's delivery thread.
    void received(const std::string& response) override;
    // SensorReceiver: the session's link closed; a waiting exchange checks the link and ends.
    void linkClosed() override;
    // Whether the sensor's link is open, as the session tells (true without a sensor); not once
    // the relay declared the sensor dead (until "DeviceConnectStarted").
    bool linkOpen() const;

    // Leaves the timed-out state ("DeviceConnectStarted").
    void resetTimeOut();

    // The controller the relay was built with (null for `createWithSensor`).
    const std::shared_ptr<SessionController>& bt() const { return bt_; }
    const std::shared_ptr<SensorDelegate>& sensor() const { return sensor_; }

    bool timedOut() const;
    int64_t consectutiveTimeouts() const;
    // What came of the reply to the last `sendToSensor` before it timed out, as received (empty
    // when nothing came, or the exchange did not time out).
    std::string timedOutPart() const;
    // The last `sendToSensor` ended without a known answer: the main queue was held past its
    // bound (the sensor may have answered).
    bool answerUnknown() const;
    bool awaitingFwResponse() const;

    // A command or reply as the log shows it, with the value of every Wi-Fi password
    // command ("config wifi p0 pw", any case, any whitespace between the words and before
    // the value) masked as "***" in quotes. The value runs to the next carriage return (a
    // line feed does not end it); `password`, the value of the exchange's own command when
    // it is one, is masked whole wherever a reply echoes it, line breaks and all.
    static std::string maskedForLog(std::string_view text, std::string_view password = {});
    // The value of a Wi-Fi password command (everything after the whitespace that follows
    // "pw"), or empty when `command` is none.
    static std::string_view passwordOf(std::string_view command);

  private:
    Relay(std::shared_ptr<SessionController> bt, std::shared_ptr<SensorDelegate> sensor);
    void attach();
    void receviedFwResponse(const std::string& response);  // mutex_ held
    // `notTaken`: the link did not take the command in time; `heldUp`: the main queue still held
    // what came at the bound.
    enum class Wait { reply, timedOut, linkClosed, notTaken, heldUp };
    // Waits (mutex_ held through `lock`) until the link takes the transmission (`handing_`),
    // then for one signal that comes with a reply. With `linkSeen` (the link closings counted
    // before the transmission), a closing since then ends the wait when the link is no longer
    // open. While a late reply is due, a reply that `ours` does not take is set aside
    // (`setAside_`) and the wait goes on; at the deadline the last one set aside that the
    // caller's `isAnswer` takes is the reply, and a late reply is looked out for again.
    Wait waitForReply(std::unique_lock<std::mutex>& lock, uint64_t* linkSeen = nullptr,
                      const ReplyCheck& ours = {}, const ReplyCheck& isAnswer = {});
    // The link takes transmission `transmission` now: false when its exchange has ended.
    bool taken(uint64_t transmission);
    // Posts a look to the main queue (mutex_ held); `lookedAt_` reaches its number once the
    // queue has run what it held before.
    uint64_t lookBehindMainQueue();
    // A reply may still come after the one taken (mutex_ held): what arrives until its prompt
    // or a quiet `kSettleTime` is dropped, and, `counted`, later replies are checked for their
    // marks.
    void expectLateReply(bool counted = true);
    // After a time-out: waits (mutex_ held) until the late reply is through, the link is quiet,
    // or the link closings counted differ from `linkSeen`.
    void settle(std::unique_lock<std::mutex>& lock, uint64_t linkSeen);

    const std::shared_ptr<SessionController> bt_;
    const std::shared_ptr<SensorDelegate> sensor_;
    ObserverToken connectStartedToken_ = 0;

    mutable std::mutex mutex_;
    std::condition_variable replied_;
    bool awaitingFwResponse_ = false;
    std::string stringBuffer_;
    std::string response_;
    std::string timedOutPart_;
    int64_t numPendingC_ = 0;
    int64_t numPendingK_ = 0;
    int64_t consectutiveTimeouts_ = 0;
    bool timedOut_ = false;
    int64_t semaphore_ = 0;      // complete replies signalled and not yet taken
    uint64_t linkClosings_ = 0;  // `linkClosed` calls so far
    // Since a time-out and until its late reply's prompt or a quiet `kSettleTime`; input is
    // dropped meanwhile. `lastInput_`: the time-out or the last chunk since.
    bool settling_ = false;
    Clock::TimePoint lastInput_{};
    // Replies that timed out and whose prompt has not come since (on this link).
    int64_t lateReplies_ = 0;
    // The sensor put the command's echo before the last reply taken.
    bool echoes_ = false;
    // The replies of the current exchange set aside as late ones.
    std::vector<std::string> setAside_;
    // The transmission the link has not taken yet (0: none), the last one's number, and when
    // the link took the last one.
    uint64_t handing_ = 0;
    uint64_t transmissions_ = 0;
    Clock::TimePoint handedAt_{};
    // Looks posted to the main queue, and the last it reached.
    uint64_t looks_ = 0;
    uint64_t lookedAt_ = 0;
    uint64_t replyLook_ = 0;    // `lookedAt_` as the last complete reply came
    bool replyOnMain_ = false;  // and whether the main queue handed it over
    uint64_t sentLook_ = 0;     // the look posted as the link took the command (0: none)
    // A look the main queue had not reached when the link last settled: until it does, it may
    // still hold an earlier command's answer.
    uint64_t behindLook_ = 0;
    bool answerUnknown_ = false;
};

}  // namespace qz
