#include "sim/SimulatedBGX13.hpp"

#include <algorithm>

#include "platform/DispatchQueue.hpp"
#include "platform/Locked.hpp"

namespace qz::sim {

namespace {

// Where delayed answers wait (through the installed clock).
std::shared_ptr<DispatchQueue> moduleQueue() {
    static auto queue = DispatchQueue::create("qz.sim.bgx13", DispatchQueue::serial);
    return queue;
}

BleError attError(int code, const std::string& text) {
    return BleError{BleError::kATTErrorDomain, code, text};
}

}  // namespace

BleError SimulatedBGX13::linkLostError() {
    return BleError{"CBErrorDomain", 6, "The connection has timed out unexpectedly."};
}

std::shared_ptr<SimulatedBGX13> SimulatedBGX13::create(std::shared_ptr<SensorCore> core) {
    return create(std::move(core), Options{});
}

std::shared_ptr<SimulatedBGX13> SimulatedBGX13::create(std::shared_ptr<SensorCore> core,
                                                       Options options) {
    return std::shared_ptr<SimulatedBGX13>(new SimulatedBGX13(std::move(core), std::move(options)));
}

SimulatedBGX13::SimulatedBGX13(std::shared_ptr<SensorCore> core, Options options)
    : core_(std::move(core)),
      options_(std::move(options)),
      identifier_(options_.identifier.value_or(UUID::random())),
      busMode_(options_.busMode),
      rssi_(options_.rssi) {}

void SimulatedBGX13::setRssi(int rssi) {
    lockedAssign(mutex_, rssi_, rssi);
}

int SimulatedBGX13::rssi() const {
    return lockedCopy(mutex_, rssi_);
}

std::vector<SimulatedBGX13::ServiceSpec> SimulatedBGX13::services() const {
    namespace P = BleProperty;
    uint32_t rx = P::write | P::writeWithoutResponse | (options_.fastAck ? P::notify : 0);
    return {
        {BGXUUID::streamingService,
         {{BGXUUID::peripheralRX, rx},
          {BGXUUID::peripheralTX, P::notify | P::writeWithoutResponse},
          {BGXUUID::busMode, P::notify | P::read | P::write},
          {BGXUUID::deviceUniqueId, P::read}}},
        {BGXUUID::deviceInformationService,
         {{BGXUUID::modelNumber, P::read}, {BGXUUID::firmwareRevision, P::read}}},
    };
}

std::optional<uint32_t> SimulatedBGX13::propertiesOf(const std::string& uuid) const {
    for (const auto& service : services())
        for (const auto& c : service.characteristics)
            if (c.uuid == uuid) return c.properties;
    return std::nullopt;
}

std::optional<std::string> SimulatedBGX13::peripheralName() const {
    if (options_.name.empty()) return std::nullopt;
    return options_.name;
}

std::optional<std::string> SimulatedBGX13::advertisedName() const {
    if (options_.localName) return options_.localName;
    return peripheralName();
}

SimulatedBGX13::ConnectAnswer SimulatedBGX13::connectAnswer() const {
    return lockedCopy(mutex_, connectAnswer_);
}

void SimulatedBGX13::setConnectAnswer(ConnectAnswer answer) {
    lockedAssign(mutex_, connectAnswer_, answer);
}

void SimulatedBGX13::attach(std::shared_ptr<Link> link) {
    std::lock_guard lock(mutex_);
    link_ = std::move(link);
    ++linkGeneration_;
    notifying_.clear();
    centralCredit_ = moduleCredit_ = 0;
    pendingOut_.clear();
    pieces_ = 0;
}

void SimulatedBGX13::detach() {
    std::lock_guard lock(mutex_);
    link_.reset();
    ++linkGeneration_;
    notifying_.clear();
    pendingOut_.clear();
    pieces_ = 0;
}

bool SimulatedBGX13::linked() const {
    std::lock_guard lock(mutex_);
    return link_ != nullptr;
}

void SimulatedBGX13::setAdvertiseHook(std::function<void()> hook) {
    lockedAssign(mutex_, advertiseHook_, std::move(hook));
}

void SimulatedBGX13::injectFault(Fault fault, int times) {
    std::lock_guard lock(mutex_);
    faults_[fault] += times;
}

std::optional<BleError> SimulatedBGX13::takeFault(Fault fault) {
    std::lock_guard lock(mutex_);
    auto it = faults_.find(fault);
    if (it == faults_.end() || it->second <= 0) return std::nullopt;
    --it->second;
    switch (fault) {
        case Fault::serviceDiscovery:
        case Fault::characteristicDiscovery:
            return attError(14, "Unlikely error.");
        case Fault::valueUpdate:
            return attError(2, "Reading is not permitted.");
        case Fault::write:
            return attError(3, "Writing is not permitted.");
        case Fault::disconnect:
            return BleError{"org.bluez.Error", 1, "Disconnect failed"};
    }
    return std::nullopt;
}

SimulatedBGX13::ReadAnswer SimulatedBGX13::read(const std::string& uuid) {
    {
        std::lock_guard lock(mutex_);
        if (link_ && options_.record) requests_.push_back("read " + uuid);
    }
    if (auto error = takeFault(Fault::valueUpdate)) return {true, {}, error};
    std::lock_guard lock(mutex_);
    if (uuid == BGXUUID::busMode) {
        if (!options_.answersBusMode) return {false, {}, std::nullopt};
        return {true, {busMode_}, std::nullopt};
    }
    if (uuid == BGXUUID::modelNumber)
        return {true, Data(options_.modelNumber.begin(), options_.modelNumber.end()), std::nullopt};
    if (uuid == BGXUUID::firmwareRevision)
        return {true, Data(options_.firmwareRevision.begin(), options_.firmwareRevision.end()),
                std::nullopt};
    if (uuid == BGXUUID::deviceUniqueId) return {true, options_.uniqueId, std::nullopt};
    return {true, {}, attError(2, "Reading is not permitted.")};
}

std::optional<BleError> SimulatedBGX13::write(const std::string& uuid, const Data& value,
                                              BleWriteType type) {
    if (auto error = takeFault(Fault::write)) return error;
    const uint32_t allowed = propertiesOf(uuid).value_or(0);
    if (!(allowed & (type == BleWriteType::withResponse ? BleProperty::write
                                                        : BleProperty::writeWithoutResponse)))
        return attError(3, "Writing is not permitted.");
    std::lock_guard lock(mutex_);
    if (!link_) return attError(14, "The peripheral is not connected.");
    if (options_.record) writes_[uuid].push_back(value);
    if (uuid == BGXUUID::peripheralRX) {
        const auto n = static_cast<int64_t>(value.size());
        received_ += value.size();
        if (options_.fastAck) {
            centralCredit_ -= n;
            if (centralCredit_ < 0) {
                overrun_ += static_cast<size_t>(-centralCredit_);
                centralCredit_ = 0;
            }
        }
        if (options_.feedsSensor) schedule(core_->receive(value));
        if (options_.fastAck && notifying_.count(BGXUUID::peripheralRX)) {
            // The bytes left the module's buffer: their credit goes back.
            auto giveBack = [n](SimulatedBGX13& m) {
                m.centralCredit_ += n;
                m.notifyLocked(
                    BGXUUID::peripheralRX,
                    FastAckMessage{FastAckMessage::kAddCredit, static_cast<uint16_t>(n)}.bytes());
            };
            if (options_.creditReturnDelay > 0)
                later(options_.creditReturnDelay, giveBack);
            else
                giveBack(*this);
        }
        return std::nullopt;
    }
    if (uuid == BGXUUID::peripheralTX) {
        if (auto message = FastAckMessage::parse(value)) {
            if (message->command == FastAckMessage::kSetCredit) moduleCredit_ = message->count;
            if (message->command == FastAckMessage::kAddCredit) moduleCredit_ += message->count;
            flush();
        }
        return std::nullopt;
    }
    if (uuid == BGXUUID::busMode) {
        if (value.empty()) return attError(13, "The value's length is invalid.");
        if (value[0] != busMode_) {
            busMode_ = value[0];
            if (notifying_.count(uuid)) notifyLocked(uuid, {busMode_});
        }
        return std::nullopt;
    }
    return attError(3, "Writing is not permitted.");
}

std::optional<BleError> SimulatedBGX13::setNotifying(const std::string& uuid, bool on) {
    const bool notifies = propertiesOf(uuid).value_or(0) & BleProperty::notify;
    std::lock_guard lock(mutex_);
    if (!link_) return std::nullopt;
    if (options_.record) requests_.push_back("notify " + uuid);
    if (!on) {
        notifying_.erase(uuid);
        return std::nullopt;
    }
    if (options_.refusedSubscriptions.count(uuid))
        return attError(3, "Notifications are not permitted.");
    if (!notifies) return std::nullopt;
    notifying_.insert(uuid);
    if (uuid == BGXUUID::peripheralRX && options_.fastAck) {
        // The module's buffer: what the central may send before credit comes back.
        auto grant = [](SimulatedBGX13& m) {
            m.centralCredit_ = m.options_.receiveBuffer;
            m.notifyLocked(
                BGXUUID::peripheralRX,
                FastAckMessage{FastAckMessage::kSetCredit, m.options_.receiveBuffer}.bytes());
        };
        if (options_.creditDelay > 0)
            later(options_.creditDelay, grant);
        else
            grant(*this);
    }
    if (uuid == BGXUUID::peripheralTX) flush();
    return std::nullopt;
}

void SimulatedBGX13::later(double seconds, std::function<void(SimulatedBGX13&)> work) {
    std::weak_ptr<SimulatedBGX13> weak = weak_from_this();
    const uint64_t generation = linkGeneration_;
    moduleQueue()->asyncAfter(seconds, [weak, generation, work = std::move(work)] {
        auto self = weak.lock();
        if (!self) return;
        std::lock_guard lock(self->mutex_);
        if (generation == self->linkGeneration_ && self->link_) work(*self);
    });
}

void SimulatedBGX13::schedule(const std::vector<Output>& outputs) {
    std::weak_ptr<SimulatedBGX13> weak = weak_from_this();
    const uint64_t generation = linkGeneration_;
    for (const auto& out : outputs) {
        if (out.delay <= 0) {
            handle(out);
            continue;
        }
        moduleQueue()->asyncAfter(out.delay, [weak, out, generation] {
            auto self = weak.lock();
            if (!self) return;
            std::unique_lock lock(self->mutex_);
            // A reappearance comes after the link that dropped; other output only on its link.
            if (out.kind != Output::Kind::Reappear && generation != self->linkGeneration_) return;
            if (out.kind == Output::Kind::Reappear) {
                auto hook = self->advertiseHook_;
                lock.unlock();
                if (hook) hook();
                return;
            }
            self->handle(out);
        });
    }
}

void SimulatedBGX13::handle(const Output& output) {
    switch (output.kind) {
        case Output::Kind::Bytes:
            pendingOut_.push_back(output.bytes);
            flush();
            break;
        case Output::Kind::Disconnect:
            dropLocked();
            break;
        case Output::Kind::Reappear:
            // Immediate reappearances do not happen (the core always delays them).
            break;
    }
}

// Sends what waits, as far as subscription and credit allow: each answer chunk in
// notifications of at most `notifySize` bytes, never two chunks in one notification.
void SimulatedBGX13::flush() {
    if (!link_ || !notifying_.count(BGXUUID::peripheralTX)) return;
    while (!pendingOut_.empty()) {
        Data& front = pendingOut_.front();
        size_t size = options_.notifySize;
        if (!options_.notifySizes.empty())
            size = options_.notifySizes[std::min(pieces_, options_.notifySizes.size() - 1)];
        size_t n = std::min(front.size(), std::max<size_t>(size, 1));
        if (options_.fastAck) {
            if (moduleCredit_ <= 0) return;
            n = std::min<size_t>(n, static_cast<size_t>(moduleCredit_));
            moduleCredit_ -= static_cast<int64_t>(n);
        }
        Data piece(front.begin(), front.begin() + static_cast<std::ptrdiff_t>(n));
        front.erase(front.begin(), front.begin() + static_cast<std::ptrdiff_t>(n));
        ++pieces_;
        if (front.empty()) {
            pendingOut_.pop_front();
            pieces_ = 0;
        }
        notifyLocked(BGXUUID::peripheralTX, piece);
    }
}

void SimulatedBGX13::notifyLocked(const std::string& uuid, const Data& value) {
    if (!link_) return;
    if (options_.record) notifications_[uuid].push_back(value);
    link_->notify(uuid, value);
}

void SimulatedBGX13::dropLocked() {
    if (!link_) return;
    auto link = std::move(link_);
    ++linkGeneration_;
    notifying_.clear();
    pendingOut_.clear();
    pieces_ = 0;
    link->dropped(linkLostError());
}

void SimulatedBGX13::dropLink() {
    std::lock_guard lock(mutex_);
    dropLocked();
}

std::vector<Data> SimulatedBGX13::writes(const std::string& uuid) const {
    std::lock_guard lock(mutex_);
    auto it = writes_.find(uuid);
    return it == writes_.end() ? std::vector<Data>{} : it->second;
}

std::vector<Data> SimulatedBGX13::notifications(const std::string& uuid) const {
    std::lock_guard lock(mutex_);
    auto it = notifications_.find(uuid);
    return it == notifications_.end() ? std::vector<Data>{} : it->second;
}

std::vector<std::string> SimulatedBGX13::requests() const {
    return lockedCopy(mutex_, requests_);
}

size_t SimulatedBGX13::creditOverrun() const {
    return lockedCopy(mutex_, overrun_);
}

size_t SimulatedBGX13::bytesReceived() const {
    return lockedCopy(mutex_, received_);
}

int64_t SimulatedBGX13::centralCredit() const {
    return lockedCopy(mutex_, centralCredit_);
}

}  // namespace qz::sim
