#include "api/Communication/Relay.hpp"

#include <algorithm>
#include <cctype>

#include "api/Communication/PelkNotifications.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/Logging/Log.hpp"
#include "platform/Clock.hpp"
#include "platform/Describe.hpp"
#include "platform/Locked.hpp"

namespace qz {

namespace {

int64_t countOf(const std::string& text, char c) {
    return static_cast<int64_t>(std::count(text.begin(), text.end(), c));
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

std::string Relay::maskedForLog(const std::string& command) {
    static const std::string kPasswordCommand = "config wifi p0 pw ";
    std::string lower(command.size(), '\0');
    std::transform(command.begin(), command.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    // Every occurrence (a reply may echo the command); the value runs to the line end.
    std::string out;
    size_t from = 0;
    for (size_t at = lower.find(kPasswordCommand); at != std::string::npos;
         at = lower.find(kPasswordCommand, from)) {
        const size_t value = at + kPasswordCommand.size();
        out += command.substr(from, value - from) + "\"***\"";
        from = std::min(command.find_first_of("\r\n", value), command.size());
    }
    return out + command.substr(from);
}

bool Relay::waitForReply(std::unique_lock<std::mutex>& lock) {
    auto clock = Clock::current();
    const auto deadline = clock->deadlineAfter(kReplyTimeout);
    while (clock->waitUntil(lock, replied_, deadline, [this] { return semaphore_ > 0; })) {
        --semaphore_;
        if (!response_.empty()) return true;
    }
    return false;
}

Result<std::string, CommError> Relay::sendToSensor(const std::string& command,
                                                   bool multipleResponess, int noDataRetryCount,
                                                   MultiResponseStrategy strategy) {
    int64_t tries = static_cast<int64_t>(std::max(noDataRetryCount, 0)) + 1;
    {
        std::lock_guard lock(mutex_);
        if (timedOut_) return std::unexpected(CommError::timedOut);
        awaitingFwResponse_ = false;
    }
    if (!sensor_) {
        Log::e("No sensor delegate set");
        return std::unexpected(CommError::noDelegate);
    }
    const std::string logged = maskedForLog(command);
    std::unique_lock lock(mutex_);
    stringBuffer_.clear();
    response_.clear();
    while (true) {
        const bool transmit = response_.empty()
                                  ? tries > 0
                                  : (response_.find("NO DATA") != std::string::npos && tries > 0);
        if (!transmit) break;
        --tries;
        // Whatever was signalled before this transmission belongs to an earlier one.
        semaphore_ = 0;
        lock.unlock();
        sensor_->send(command + "\r");
        Log::v("-> " + logged);
        lock.lock();
        if (waitForReply(lock)) continue;

        const std::string response = response_;
        bool post = false;
        if (response.empty() && ++consectutiveTimeouts_ >= kTimeoutsBeforeDisconnect) {
            timedOut_ = true;
            consectutiveTimeouts_ = 0;
            post = true;
        }
        lock.unlock();
        Log::e("cmd: \"" + logged + "\" timed out, response: " + maskedForLog(response));
        if (post) NotificationCenter::defaultCenter().post(PelkNotifications::SENSOR_TIMEDOUT);
        return std::unexpected(CommError::timedOut);
    }
    std::string response = response_;
    consectutiveTimeouts_ = 0;
    lock.unlock();
    Log::v("<- " + maskedForLog(response));
    if (multipleResponess) response = strategy.process(response);
    return response;
}

Result<std::string, CommError> Relay::sendFwModeCommand(const Data& data) {
    if (!sensor_) return std::unexpected(CommError::noDelegate);
    std::unique_lock lock(mutex_);
    stringBuffer_.clear();
    response_.clear();
    semaphore_ = 0;
    lock.unlock();
    sensor_->write(data, false);
    lock.lock();
    if (waitForReply(lock)) return response_;
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
        numPendingC_ = pendingC = acksExpected;
        numPendingK_ = pendingK = static_cast<int64_t>(data.size() / 15) - acksExpected;
        stringBuffer_.clear();
        response_.clear();
        semaphore_ = 0;
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
    if (waitForReply(lock)) {
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
        stringBuffer_ += response;
        if (response.find('>') == std::string::npos) return;
        response_ = std::move(stringBuffer_);
        stringBuffer_.clear();
        ++semaphore_;
    }
    replied_.notify_all();
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
}

bool Relay::timedOut() const {
    return lockedCopy(mutex_, timedOut_);
}

int64_t Relay::consectutiveTimeouts() const {
    return lockedCopy(mutex_, consectutiveTimeouts_);
}

bool Relay::awaitingFwResponse() const {
    return lockedCopy(mutex_, awaitingFwResponse_);
}

}  // namespace qz
