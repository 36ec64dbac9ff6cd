#include "api/Communication/Relay.hpp"

#include <algorithm>
#include <cctype>

#include "api/Communication/PelkNotifications.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/Logging/Log.hpp"
#include "lib/Decoders/QZEReplyText.hpp"
#include "platform/Clock.hpp"
#include "platform/Describe.hpp"
#include "platform/DispatchQueue.hpp"
#include "platform/Locked.hpp"

namespace qz {

namespace {

int64_t countOf(const std::string& text, char c) {
    return static_cast<int64_t>(std::count(text.begin(), text.end(), c));
}

// Blanks between the words of a password command and before its value (a carriage return
// ends the sensor's line and so is none of them).
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f';
}

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Where the value of the first Wi-Fi password command at or after `from` starts: after
// "config wifi p0 pw" (any case, blanks between the words) and the blanks after "pw". npos
// when there is none.
size_t passwordValueStart(std::string_view text, size_t from) {
    static constexpr std::string_view kWords[] = {"config", "wifi", "p0"};
    for (size_t at = from; at + 2 <= text.size(); ++at) {
        if (lower(text[at]) != 'p' || lower(text[at + 1]) != 'w') continue;
        const size_t after = at + 2;
        if (after < text.size() && !isBlank(text[after]) && text[after] != '\r') continue;
        // The words before "pw", from the nearest back.
        size_t end = at;
        bool matched = true;
        for (size_t w = std::size(kWords); w-- > 0 && matched;) {
            size_t wordEnd = end;
            while (wordEnd > 0 && isBlank(text[wordEnd - 1])) --wordEnd;
            const std::string_view word = kWords[w];
            matched = wordEnd < end && wordEnd >= word.size();
            for (size_t k = 0; matched && k < word.size(); ++k)
                matched = lower(text[wordEnd - word.size() + k]) == word[k];
            end = wordEnd - word.size();
        }
        if (!matched) continue;
        size_t value = after;
        while (value < text.size() && isBlank(text[value])) ++value;
        return value;
    }
    return std::string_view::npos;
}

}  // namespace

std::shared_ptr<Relay> Relay::create(std::shared_ptr<SessionController> sessionController) {
    std::shared_ptr<SensorDelegate> sensor = sessionController;
    std::shared_ptr<Relay> relay(new Relay(std::move(sessionController), std::move(sensor)));
    relay->attach();
    return relay;
}

std::shared_ptr<Relay> Relay::createWithSensor(std::shared_ptr<SensorDelegate> sensor) {
    std::shared_ptr<Relay> relay(new Relay(nullptr, std::move(sensor)));
    relay->attach();
    return relay;
}

Relay::Relay(std::shared_ptr<SessionController> bt, std::shared_ptr<SensorDelegate> sensor)
    : bt_(std::move(bt)), sensor_(std::move(sensor)) {}

void Relay::attach() {
    if (sensor_) sensor_->setReceiver(shared_from_this());
    std::weak_ptr<Relay> weak = weak_from_this();
    connectStartedToken_ = NotificationCenter::defaultCenter().addObserver(
        PelkNotifications::SENSOR_CONNECT_STARTED, [weak](const Notification&) {
            if (auto self = weak.lock()) self->resetTimeOut();
        });
}

Relay::~Relay() {
    NotificationCenter::defaultCenter().removeObserver(connectStartedToken_);
}

std::string_view Relay::passwordOf(std::string_view command) {
    const size_t value = passwordValueStart(command, 0);
    return value == std::string_view::npos ? std::string_view() : command.substr(value);
}

std::string Relay::maskedForLog(std::string_view text, std::string_view password) {
    static constexpr std::string_view kMask = "\"***\"";
    std::string out;
    size_t copied = 0;
    // Every occurrence (a reply may echo the command).
    for (size_t value = passwordValueStart(text, 0); value != std::string_view::npos;
         value = passwordValueStart(text, value)) {
        size_t end = std::min(text.find('\r', value), text.size());
        if (!password.empty() && text.substr(value).starts_with(password))
            end = value + password.size();
        if (end == value) continue;  // no value
        out.append(text, copied, value - copied);
        out += kMask;
        copied = value = end;
    }
    if (copied == 0 && password.empty()) return std::string(text);
    out.append(text, copied);
    // A value with carriage returns inside reaches the sensor as several lines, which it may
    // echo each on its own: the parts after the first are masked wherever they stand.
    for (size_t cr = password.find('\r'); cr != std::string_view::npos;) {
        const size_t next = password.find('\r', cr + 1);
        const std::string_view part = password.substr(cr + 1, next - (cr + 1));
        for (size_t at = part.empty() ? std::string::npos : out.find(part); at != std::string::npos;
             at = out.find(part, at + kMask.size()))
            out.replace(at, part.size(), kMask);
        cr = next;
    }
    return out;
}

Relay::Wait Relay::waitForReply(std::unique_lock<std::mutex>& lock, uint64_t* linkSeen,
                                const ReplyCheck& ours, const ReplyCheck& isAnswer) {
    auto clock = Clock::current();
    const auto start = clock->now();
    // The main queue is waited for at most kMainQueueWait past the reply's own wait, in all.
    const auto bound = start + Clock::toDuration(kReplyTimeout + kMainQueueWait);
    auto linkChanged = [&] { return linkSeen && linkClosings_ != *linkSeen; };
    // The link closed since it was last asked (mutex_ held): whether it is gone. The session is
    // asked without the relay's lock (it takes its own).
    auto linkGone = [&] {
        *linkSeen = linkClosings_;
        lock.unlock();
        const bool open = linkOpen();
        lock.lock();
        return !open;
    };
    // Takes what comes until `until` or `done()`: the reply, or the link's end; none when
    // neither came.
    // With `lateFrom`, a reply that came once the main queue had run that look is late.
    // A reply dropped as an earlier one's may have held this command's answer as well.
    bool dropped = false;
    auto takeUntil = [&](Clock::TimePoint until, const std::function<bool()>& done,
                         uint64_t lateFrom = 0) -> std::optional<Wait> {
        while (clock->waitUntil(lock, replied_, until,
                                [&] { return semaphore_ > 0 || linkChanged() || done(); })) {
            if (semaphore_ > 0 && lateFrom != 0 && replyLook_ >= lateFrom) return std::nullopt;
            if (semaphore_ > 0 && replyOnMain_ && replyLook_ < sentLook_) {
                // Handed over on the main queue ahead of the command's going out: an earlier
                // command's answer that the queue held.
                semaphore_ = 0;
                if (lateReplies_ > 0) --lateReplies_;
                response_.clear();
                dropped = true;
                continue;
            }
            if (semaphore_ > 0) {
                --semaphore_;
                if (response_.empty()) continue;
                if (lateReplies_ > 0 && ours && !ours(response_)) {
                    // The late reply, come at last: not this command's answer.
                    --lateReplies_;
                    setAside_.push_back(std::move(response_));
                    response_.clear();
                    continue;
                }
                return Wait::reply;
            }
            if (linkChanged()) {
                if (linkGone() && semaphore_ == 0) return Wait::linkClosed;
                continue;
            }
            return std::nullopt;
        }
        return std::nullopt;
    };
    // The link takes the command when the session's turn comes (a BLE write waits for it on the
    // main queue): the reply's wait counts from there. One not taken in time is not sent.
    while (handing_ != 0) {
        clock->waitUntil(lock, replied_, start + Clock::toDuration(kMainQueueWait),
                         [&] { return handing_ == 0 || linkChanged(); });
        if (handing_ == 0) break;
        if (!linkChanged()) {
            handing_ = 0;
            return Wait::notTaken;
        }
        if (linkGone()) {
            handing_ = 0;
            return Wait::linkClosed;
        }
    }
    if (auto wait = takeUntil(handedAt_ + Clock::toDuration(kReplyTimeout), [] { return false; }))
        return *wait;
    // The session hands what the sensor sent over on the main queue: a reply that came in time
    // may still wait there behind other work (an app's long task, a modal wait). It is late only
    // if it is not there once the main queue has run what it held; a main queue still held at
    // the bound leaves the answer unknown.
    if (!DispatchQueue::isMainThread()) {
        const uint64_t look = lookBehindMainQueue();
        if (auto wait = takeUntil(
                bound, [&] { return lookedAt_ >= look; }, look))
            return *wait;
        if (lookedAt_ < look) return Wait::heldUp;
    }
    // Nothing else came: a reply set aside only for want of the echo was the answer after all
    // (an echo switched off unseen). One the caller's check refused is no answer. Either way a
    // reply may still be due: the next transmission waits for the link to settle.
    for (auto late = setAside_.rbegin(); late != setAside_.rend(); ++late) {
        if (isAnswer && !isAnswer(*late)) continue;
        response_ = std::move(*late);
        setAside_.erase(std::next(late).base());
        expectLateReply();
        return Wait::reply;
    }
    return dropped ? Wait::heldUp : Wait::timedOut;
}

uint64_t Relay::lookBehindMainQueue() {
    const uint64_t look = ++looks_;
    std::weak_ptr<Relay> weak = weak_from_this();
    DispatchQueue::main()->async([weak, look] {
        auto self = weak.lock();
        if (!self) return;
        {
            std::lock_guard lock(self->mutex_);
            self->lookedAt_ = std::max(self->lookedAt_, look);
        }
        self->replied_.notify_all();
    });
    return look;
}

bool Relay::taken(uint64_t transmission) {
    {
        std::lock_guard lock(mutex_);
        if (transmission != handing_) return false;  // its exchange has ended
        handing_ = 0;
        handedAt_ = Clock::current()->now();
        // Replies complete before the command went out are earlier ones' late replies, and so
        // are those the main queue still holds now.
        lateReplies_ = std::max<int64_t>(0, lateReplies_ - semaphore_);
        semaphore_ = 0;
        // Looked for only while the main queue may still hold an earlier answer: what it hands
        // over before the look may also be bytes come after the command, read in an earlier turn.
        sentLook_ =
            DispatchQueue::isMainThread() || lookedAt_ >= behindLook_ ? 0 : lookBehindMainQueue();
    }
    replied_.notify_all();
    return true;
}

void Relay::expectLateReply(bool counted) {
    settling_ = true;
    if (counted) lateReplies_ = std::min(lateReplies_ + 1, kLateRepliesKept);
    lastInput_ = Clock::current()->now();
}

void Relay::settle(std::unique_lock<std::mutex>& lock, uint64_t linkSeen) {
    if (!settling_) return;
    auto clock = Clock::current();
    const auto limit = clock->deadlineAfter(kReplyTimeout);
    // The link is quiet only once the main queue, where replies are handed over, has run what
    // it held.
    const uint64_t look = DispatchQueue::isMainThread() ? 0 : lookBehindMainQueue();
    // A closing link ends the wait: the late reply will not come.
    while (settling_ && linkClosings_ == linkSeen) {
        const auto quietUntil = lastInput_ + Clock::toDuration(kSettleTime);
        const auto now = clock->now();
        if (now >= limit || (now >= quietUntil && lookedAt_ >= look)) break;
        const auto seen = lastInput_;
        const bool caughtUp = lookedAt_ >= look;
        clock->waitUntil(lock, replied_, std::min(quietUntil > now ? quietUntil : limit, limit),
                         [&] {
                             return !settling_ || lastInput_ != seen || linkClosings_ != linkSeen ||
                                    (lookedAt_ >= look) != caughtUp;
                         });
    }
    if (lookedAt_ < look) behindLook_ = look;
    settling_ = false;
}

Result<std::string, CommError> Relay::sendToSensor(const std::string& command,
                                                   bool multipleResponess, int noDataRetryCount,
                                                   MultiResponseStrategy strategy,
                                                   const ReplyCheck& isAnswer) {
    int64_t tries = static_cast<int64_t>(std::max(noDataRetryCount, 0)) + 1;
    {
        std::lock_guard lock(mutex_);
        timedOutPart_.clear();
        answerUnknown_ = false;
        if (timedOut_) return std::unexpected(CommError::timedOut);
        awaitingFwResponse_ = false;
    }
    if (!sensor_) {
        Log::e("No sensor delegate set");
        return std::unexpected(CommError::noDelegate);
    }
    const std::string_view password = passwordOf(command);
    const std::string logged = maskedForLog(command, password);
    const std::string transmitted = command + "\r";
    // Counted before the link is asked: a closing after that ends the waits below.
    uint64_t linkSeen = lockedCopy(mutex_, linkClosings_);
    std::unique_lock lock(mutex_, std::defer_lock);
    bool open = linkOpen();
    if (open) {
        lock.lock();
        settle(lock, linkSeen);
        if (linkClosings_ != linkSeen) {
            // The link closed while a late reply was awaited; the session is asked unlocked.
            linkSeen = linkClosings_;
            lock.unlock();
            open = linkOpen();
            if (open) lock.lock();
        }
    }
    if (!open) {
        Log::e("cmd: \"" + logged + "\" not sent, the link to the sensor is closed");
        return std::unexpected(CommError::notConnected);
    }
    stringBuffer_.clear();
    response_.clear();
    setAside_.clear();
    // The command's answer, told from a late reply by its marks: the echo of the command where
    // the sensor echoes, and what the caller knows of its answer.
    const ReplyCheck ours = [&](std::string_view reply) {
        if (echoes_ && reply::withoutEcho(reply, command).size() == reply.size()) return false;
        return !isAnswer || isAnswer(reply);
    };
    auto logSetAside = [&] {
        for (const auto& late : setAside_)
            Log::e("cmd: \"" + logged +
                   "\" waited on past a late reply: " + maskedForLog(late, password));
    };
    while (true) {
        const bool transmit =
            response_.empty() ? tries > 0 : (reply::holdsNoData(response_) && tries > 0);
        if (!transmit) break;
        --tries;
        // A reply handed over in doubt may leave another due: it is waited out first.
        settle(lock, linkSeen);
        // Whatever is signalled before the link takes this transmission is an earlier one's.
        const uint64_t transmission = ++transmissions_;
        handing_ = transmission;
        lock.unlock();
        std::weak_ptr<Relay> weak = weak_from_this();
        sensor_->handOver(transmitted, [weak, transmission] {
            auto self = weak.lock();
            return self && self->taken(transmission);
        });
        Log::v("-> " + logged);
        lock.lock();
        const Wait wait = waitForReply(lock, &linkSeen, ours, isAnswer);
        if (wait == Wait::reply) continue;
        if (wait == Wait::linkClosed) {
            lock.unlock();
            logSetAside();
            Log::e("cmd: \"" + logged + "\" not answered, the link to the sensor closed");
            return std::unexpected(CommError::notConnected);
        }
        if (wait == Wait::notTaken || wait == Wait::heldUp) {
            // The sensor may have answered: no empty time-out, and an answer still held up is
            // not taken for the next command's.
            timedOutPart_ = stringBuffer_;
            answerUnknown_ = true;
            if (wait == Wait::heldUp) expectLateReply();
            lock.unlock();
            logSetAside();
            Log::e("cmd: \"" + logged +
                   (wait == Wait::notTaken
                        ? "\" not sent: the link did not take it in time, the main queue was held"
                        : "\" not answered in time: the main queue held what came"));
            return std::unexpected(CommError::timedOut);
        }

        const std::string response = response_;
        timedOutPart_ = stringBuffer_;
        bool post = false;
        // Replies set aside as late ones show a sensor that still answers.
        if (response.empty() && setAside_.empty() &&
            ++consectutiveTimeouts_ >= kTimeoutsBeforeDisconnect) {
            timedOut_ = true;
            consectutiveTimeouts_ = 0;
            post = true;
        }
        // The reply may still come: it must not be taken for the next command's. A reply set
        // aside meanwhile may have been it (the late one it was taken for lost): the link
        // settles, and no more late replies are looked out for than before.
        expectLateReply(setAside_.empty());
        lock.unlock();
        logSetAside();
        Log::e("cmd: \"" + logged + "\" timed out, response: " + maskedForLog(response, password));
        if (post) NotificationCenter::defaultCenter().post(PelkNotifications::SENSOR_TIMEDOUT);
        return std::unexpected(CommError::timedOut);
    }
    std::string response = response_;
    consectutiveTimeouts_ = 0;
    echoes_ = reply::withoutEcho(response, command).size() != response.size();
    lock.unlock();
    logSetAside();
    Log::v("<- " + maskedForLog(response, password));
    if (multipleResponess) response = strategy.process(response);
    return response;
}

Result<std::string, CommError> Relay::sendFwModeCommand(const Data& data) {
    if (!sensor_) return std::unexpected(CommError::noDelegate);
    std::unique_lock lock(mutex_);
    settling_ = false;  // firmware mode takes the link as it is
    stringBuffer_.clear();
    response_.clear();
    semaphore_ = 0;
    handing_ = 0;
    handedAt_ = Clock::current()->now();  // written as it stands
    lock.unlock();
    sensor_->write(data, false);
    lock.lock();
    if (waitForReply(lock) == Wait::reply) return response_;
    const std::string response = response_;
    const std::string buffer = stringBuffer_;
    lock.unlock();
    Log::e("cmd: \"" + describe(data) + "\" timed out, response: " + response +
           ", buffer:" + buffer);
    if (buffer == "s") return std::string("s");
    return std::unexpected(CommError::timedOut);
}

Result<std::string, CommError> Relay::writeFw(const Data& data, int64_t acksExpected) {
    int64_t pendingC = 0, pendingK = 0;
    {
        std::lock_guard lock(mutex_);
        awaitingFwResponse_ = true;
        settling_ = false;
        numPendingC_ = pendingC = acksExpected;
        numPendingK_ = pendingK = static_cast<int64_t>(data.size() / 15) - acksExpected;
        stringBuffer_.clear();
        response_.clear();
        semaphore_ = 0;
        handing_ = 0;
        handedAt_ = Clock::current()->now();  // written as it stands
    }
    Log::v("sending and expecting for " + std::to_string(pendingC) + " Cs, and " +
           std::to_string(pendingK) + " Ks");
    if (!sensor_) {
        Log::e("No sensor delegate set");
        return std::unexpected(CommError::noDelegate);
    }
    sensor_->write(data, true);
    Log::v("fw -> " + describe(data));
    std::unique_lock lock(mutex_);
    if (waitForReply(lock) == Wait::reply) {
        std::string response = response_;
        lock.unlock();
        Log::v("fw <- " + response);
        return response;
    }
    pendingC = numPendingC_;
    pendingK = numPendingK_;
    lock.unlock();
    Log::e("fwcmd: \"" + describe(data) + "\" timed out, Was waiting for " +
           std::to_string(pendingC) + " Cs, and " + std::to_string(pendingK) + " Ks");
    return std::unexpected(CommError::timedOut);
}

void Relay::received(const std::string& response) {
    {
        std::lock_guard lock(mutex_);
        if (awaitingFwResponse_) {
            receviedFwResponse(response);
            return;
        }
        if (settling_) {
            // The rest of a timed-out reply: dropped, and its prompt ends the settling.
            if (response.find('>') != std::string::npos) {
                settling_ = false;
                if (lateReplies_ > 0) --lateReplies_;
            } else
                lastInput_ = Clock::current()->now();
        } else {
            stringBuffer_ += response;
            if (response.find('>') == std::string::npos) return;
            response_ = std::move(stringBuffer_);
            stringBuffer_.clear();
            replyLook_ = lookedAt_;
            replyOnMain_ = DispatchQueue::isMainThread();
            ++semaphore_;
        }
    }
    replied_.notify_all();
}

void Relay::linkClosed() {
    {
        std::lock_guard lock(mutex_);
        ++linkClosings_;
        lateReplies_ = 0;  // nothing of the closed link comes any more
    }
    replied_.notify_all();
}

bool Relay::linkOpen() const {
    // A sensor declared dead is gone for everyone, whatever its session says while it closes.
    if (timedOut()) return false;
    return !sensor_ || sensor_->isLinkOpen();
}

void Relay::receviedFwResponse(const std::string& response) {
    numPendingC_ -= countOf(response, 'C');
    numPendingK_ -= countOf(response, 'K');
    numPendingK_ -= countOf(response, 'D');
    stringBuffer_ += response;
    if (numPendingC_ == 0 && numPendingK_ == 0) {
        response_ = std::move(stringBuffer_);
        stringBuffer_.clear();
        ++semaphore_;
        replied_.notify_all();
    }
}

void Relay::resetTimeOut() {
    std::lock_guard lock(mutex_);
    timedOut_ = false;
    consectutiveTimeouts_ = 0;
    lateReplies_ = 0;  // a new connection starts
}

bool Relay::timedOut() const {
    return lockedCopy(mutex_, timedOut_);
}

std::string Relay::timedOutPart() const {
    return lockedCopy(mutex_, timedOutPart_);
}

bool Relay::answerUnknown() const {
    return lockedCopy(mutex_, answerUnknown_);
}

int64_t Relay::consectutiveTimeouts() const {
    return lockedCopy(mutex_, consectutiveTimeouts_);
}

bool Relay::awaitingFwResponse() const {
    return lockedCopy(mutex_, awaitingFwResponse_);
}

}  // namespace qz
