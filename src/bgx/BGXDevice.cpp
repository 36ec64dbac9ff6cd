#include "bgx/BGXDevice.hpp"

#include <algorithm>
#include <type_traits>

#include "bgx/BGXScanner.hpp"
#include "platform/Console.hpp"
#include "platform/Locked.hpp"
#include "platform/Text.hpp"

namespace qz {

namespace {

// The error every "Error" notification carries (attribute domain, code 1).
const BleError& notificationError() {
    static const BleError* error = new BleError(BleError::att(1));
    return *error;
}

std::string hexUpper(const Data& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (auto b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// The value as UTF-8 text, or none when it is not UTF-8.
std::optional<std::string> textOf(const Data& bytes) {
    std::string text(bytes.begin(), bytes.end());
    if (!text::isValidUTF8(text)) return std::nullopt;
    return text;
}

}  // namespace

std::shared_ptr<BGXDevice> BGXDevice::deviceWithCBPeripheral(
    const std::shared_ptr<BlePeripheral>& peripheral, const BleAdvertisement& advertisementData,
    int rssi, const std::shared_ptr<BGXScanner>& scanner) {
    if (!peripheral || !scanner) return nullptr;
    std::shared_ptr<BGXDevice> device(new BGXDevice(peripheral, advertisementData, rssi, scanner));
    peripheral->setDelegate(device);
    return device;
}

BGXDevice::BGXDevice(std::shared_ptr<BlePeripheral> peripheral,
                     const BleAdvertisement& advertisement, int rssi,
                     const std::shared_ptr<BGXScanner>& scanner)
    : peripheral_(std::move(peripheral)),
      identifier_(peripheral_->identifier()),
      device_name_(advertisement.localName),
      scanner_(scanner),
      queue_(scanner->queue()),
      rssi_(rssi) {}

BGXDevice::~BGXDevice() {
    if (connectionTimer_) connectionTimer_->invalidate();
    if (rssiTimer_) rssiTimer_->invalidate();
}

template <class F>
auto BGXDevice::onQueue(F&& work) -> decltype(work()) {
    using R = decltype(work());
    if constexpr (std::is_void_v<R>) {
        queue_->sync(work);
    } else {
        R result{};
        queue_->sync([&] { result = work(); });
        return result;
    }
}

// MARK: identity and state

std::optional<std::string> BGXDevice::name() const {
    if (auto own = peripheral_->name()) return own;
    return device_name_;
}

// The peripheral's own name as the interrogation lines show it (no advertised fallback).
std::string BGXDevice::peripheralName() const {
    return peripheral_->name().value_or("(null)");
}

std::string BGXDevice::description() const {
    return name().value_or("(null)") + " rssi=" + std::to_string(rssi()) +
           " id=" + identifier_.uuidString() +
           " DeviceState=" + nameForDeviceState(static_cast<uint64_t>(deviceState()));
}

std::optional<std::string> BGXDevice::device_unique_id() const {
    std::lock_guard lock(mutex_);
    if (!deviceUniqueIdenChar_ || !deviceUniqueIdValue_) return std::nullopt;
    return hexUpper(*deviceUniqueIdValue_);
}

std::string BGXDevice::nameForDeviceState(uint64_t state) {
    static const char* names[] = {"Interrogating", "Disconnected", "Connecting", "Connected",
                                  "Disconnecting"};
    return state < 5 ? names[state] : "?";
}

int BGXDevice::rssi() const {
    return lockedCopy(mutex_, rssi_);
}
DeviceState BGXDevice::deviceState() const {
    return lockedCopy(mutex_, deviceState_);
}
BusMode BGXDevice::busMode() const {
    return lockedCopy(mutex_, busMode_);
}
std::optional<std::string> BGXDevice::modelNumber() const {
    return lockedCopy(mutex_, modelNumber_);
}
std::optional<std::string> BGXDevice::firmwareRevision() const {
    return lockedCopy(mutex_, firmwareRevision_);
}
std::optional<std::string> BGXDevice::bootloaderVersion() const {
    return lockedCopy(mutex_, bootloaderVersion_);
}
bool BGXDevice::fastAck() const {
    return lockedCopy(mutex_, fastAck_);
}
int64_t BGXDevice::fastAckRxBytes() const {
    return lockedCopy(mutex_, fastAckRxBytes_);
}
int64_t BGXDevice::fastAckTxBytes() const {
    return lockedCopy(mutex_, fastAckTxBytes_);
}

bool BGXDevice::writeWithResponse() const {
    std::lock_guard lock(mutex_);
    return fastAck_ ? false : writeWithResponse_;
}

void BGXDevice::setWriteWithResponse(bool value) {
    bool refused = false;
    {
        std::lock_guard lock(mutex_);
        if (fastAck_) {
            writeWithResponse_ = false;
            refused = value;
        } else {
            writeWithResponse_ = value;
        }
    }
    if (refused)
        console::log(
            "BGX Warning: Attempt to set writeWithResponse YES failed because fastAck is enabled "
            "for the current device.");
}

bool BGXDevice::canWrite() const {
    std::lock_guard lock(mutex_);
    return deviceState_ == DeviceState::Connected && (!fastAck_ || fastAckTxBytes_ >= 1);
}

std::shared_ptr<BGXDeviceDelegate> BGXDevice::deviceDelegate() const {
    return lockedCopy(mutex_, deviceDelegate_).lock();
}

void BGXDevice::setDeviceDelegate(const std::shared_ptr<BGXDeviceDelegate>& delegate) {
    lockedAssign(mutex_, deviceDelegate_, delegate);
}

std::shared_ptr<BGXSerialDelegate> BGXDevice::serialDelegate() const {
    return lockedCopy(mutex_, serialDelegate_).lock();
}

void BGXDevice::setSerialDelegate(const std::shared_ptr<BGXSerialDelegate>& delegate) {
    lockedAssign(mutex_, serialDelegate_, delegate);
}

void BGXDevice::announce(const char* key) {
    observers_.post(key, this);
}

bool BGXDevice::is(const std::optional<BleCharacteristic>& stored,
                   const BleCharacteristic& c) const {
    return stored && *stored == c;
}

void BGXDevice::changeDeviceState(DeviceState state) {
    DeviceState old;
    bool sendCredit;
    int64_t credit;
    {
        std::lock_guard lock(mutex_);
        old = deviceState_;
        deviceState_ = state;
        sendCredit = fastAck_ && state == DeviceState::Connected;
        credit = fastAckRxBytes_;
    }
    if (state != old)
        console::log("deviceState changing from " + nameForDeviceState(static_cast<uint64_t>(old)) +
                     " to " + nameForDeviceState(static_cast<uint64_t>(state)));
    announce("deviceState");
    // The connection is made: the timer that guards it stops here, not at the link-up, so a
    // module that never reports its bus mode cannot keep a connect waiting.
    if (state == DeviceState::Connected) stopConnectionTimer();
    if (auto d = deviceDelegate()) d->stateChangedForDevice(shared_from_this());
    // Tells the module how many bytes it may send.
    if (sendCredit)
        sendFastAck({FastAckMessage::kSetCredit, static_cast<uint16_t>(credit & 0xFFFF)});
}

void BGXDevice::replaceTimer(std::shared_ptr<Timer> BGXDevice::*slot,
                             std::shared_ptr<Timer> timer) {
    std::shared_ptr<Timer> old;
    {
        std::lock_guard lock(mutex_);
        old = std::exchange(this->*slot, std::move(timer));
    }
    if (old) old->invalidate();
}

void BGXDevice::stopConnectionTimer() {
    replaceTimer(&BGXDevice::connectionTimer_, nullptr);
}

void BGXDevice::stopTimers() {
    stopConnectionTimer();
    replaceTimer(&BGXDevice::rssiTimer_, nullptr);
}

void BGXDevice::forgetCharacteristics() {
    perRXchar_.reset();
    perTXchar_.reset();
    modeChar_.reset();
    firRevStrChar_.reset();
    deviceUniqueIdenChar_.reset();
}

// MARK: connecting

bool BGXDevice::connect() {
    return onQueue([&] {
        // A write left over from an earlier link would refuse every write of this one.
        dropPendingWrite("a new connection starts");
        lockedAssign(mutex_, unansweredWrites_, std::deque<bool>{});
        changeDeviceState(DeviceState::Connecting);
        if (auto scanner = scanner_.lock()) scanner->centralManager()->connect(peripheral_);
        std::weak_ptr<BGXDevice> weak = weak_from_this();
        auto timer = Timer::schedule(kConnectionTimeout, false, queue_, [weak] {
            auto self = weak.lock();
            if (!self) return;
            if (auto d = self->deviceDelegate()) d->connectionTimeoutForDevice(self);
            self->disconnect();
        });
        replaceTimer(&BGXDevice::connectionTimer_, std::move(timer));
        return true;
    });
}

void BGXDevice::deviceDidConnect() {
    onQueue([&] {
        // A reconnect of a connected device must see the bus mode anew to finish interrogating.
        lockedAssign(mutex_, busMode_, 0);
        changeDeviceState(DeviceState::Interrogating);
        peripheral_->discoverServices();
        std::weak_ptr<BGXDevice> weak = weak_from_this();
        auto timer = Timer::schedule(kRSSIInterval, true, queue_, [weak] {
            auto self = weak.lock();
            if (!self) return;
            auto state = self->deviceState();
            if (state == DeviceState::Connected || state == DeviceState::Interrogating)
                self->peripheral_->readRSSI();
        });
        replaceTimer(&BGXDevice::rssiTimer_, std::move(timer));
    });
}

void BGXDevice::deviceDidFailToConnect() {
    onQueue([&] {
        stopConnectionTimer();
        if (auto d = deviceDelegate()) d->connectionTimeoutForDevice(shared_from_this());
        dropPendingWrite("the connection failed");
        lockedAssign(mutex_, unansweredWrites_, std::deque<bool>{});
        changeDeviceState(DeviceState::Disconnected);
    });
}

void BGXDevice::deviceDidDisconnect() {
    onQueue([&] {
        stopTimers();
        dropPendingWrite("the link closed");
        changeDeviceState(DeviceState::Disconnected);
        std::lock_guard lock(mutex_);
        forgetCharacteristics();
        dataWriteSize_ = 0;
        busMode_ = 0;
        unansweredWrites_.clear();
    });
}

bool BGXDevice::disconnect() {
    return onQueue([&] {
        stopConnectionTimer();
        auto state = deviceState();
        if (state != DeviceState::Connecting && state != DeviceState::Connected &&
            state != DeviceState::Interrogating)
            return false;
        changeDeviceState(DeviceState::Disconnecting);
        if (auto scanner = scanner_.lock())
            scanner->centralManager()->cancelPeripheralConnection(peripheral_);
        return true;
    });
}

void BGXDevice::disconnectWithError(const BleError& error) {
    onQueue([&] {
        disconnect();
        console::log("Error causing disconnect: " + error.localizedDescription());
        if (auto d = deviceDelegate()) d->notifyForDisconnectionError(error);
        NotificationCenter::defaultCenter().post("Error", &notificationError());
    });
}

// MARK: interrogation

void BGXDevice::didDiscoverServices(const std::shared_ptr<BlePeripheral>&,
                                    const std::vector<BleService>& services,
                                    const std::optional<BleError>& error) {
    console::log("peripheral: " + peripheralName() + " didDiscoverServices");
    if (error) {
        // A module whose services cannot be read cannot be used: close the link.
        disconnectWithError(*error);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        forgetCharacteristics();
        // Fast acknowledgement is decided anew by each interrogation.
        fastAck_ = false;
        fastAckTxBytes_ = 0;
    }
    for (const auto& service : services) peripheral_->discoverCharacteristics(service);
}

void BGXDevice::didDiscoverCharacteristicsForService(
    const std::shared_ptr<BlePeripheral>&, const BleService& service,
    const std::vector<BleCharacteristic>& characteristics, const std::optional<BleError>& error) {
    console::log("peripheral: " + peripheralName() +
                 " didDiscoverCharacteristicsForService: " + bleUUIDText(service.uuid));
    if (error) {
        disconnectWithError(*error);
        return;
    }
    // The requests go out in the order of the characteristics: true reads, false subscribes.
    std::vector<std::pair<BleCharacteristic, bool>> requests;
    std::optional<BleCharacteristic> model;
    {
        std::lock_guard lock(mutex_);
        for (const auto& c : characteristics) {
            if (service.uuid == BGXUUID::deviceInformationService) {
                if (c.uuid == BGXUUID::modelNumber) modelNumberChar_ = c;
                if (c.uuid == BGXUUID::firmwareRevision) {
                    firRevStrChar_ = c;
                    requests.emplace_back(c, true);
                }
            } else if (c.uuid == BGXUUID::peripheralRX) {
                perRXchar_ = c;
                if (c.has(BleProperty::notify)) {
                    requests.emplace_back(c, false);
                    fastAck_ = true;
                    writeWithResponse_ = false;
                    fastAckRxBytes_ = kInitialFastAckRxBytes;
                }
            } else if (c.uuid == BGXUUID::peripheralTX) {
                perTXchar_ = c;
                requests.emplace_back(c, false);
            } else if (c.uuid == BGXUUID::busMode) {
                modeChar_ = c;
                requests.emplace_back(c, false);
            } else if (c.uuid == BGXUUID::deviceUniqueId) {
                deviceUniqueIdenChar_ = c;
                // A value read on an earlier link is not this characteristic's.
                deviceUniqueIdValue_.reset();
                requests.emplace_back(c, true);
            }
        }
        if (perRXchar_ && perTXchar_ && modeChar_ && modelNumberChar_) model = modelNumberChar_;
    }
    for (const auto& [c, read] : requests) {
        if (read)
            peripheral_->readValue(c);
        else
            peripheral_->setNotifyValue(true, c);
    }
    if (model) peripheral_->readValue(*model);
}

void BGXDevice::modelNumberValue(const Data& value) {
    console::log(std::to_string(value.size()));
    std::optional<std::string> model = textOf(value);
    std::optional<BleCharacteristic> mode;
    {
        std::lock_guard lock(mutex_);
        modelNumber_ = model;
        mode = modeChar_;
    }
    console::log("Model Number: " + model.value_or("(null)"));
    if (mode) peripheral_->readValue(*mode);
}

void BGXDevice::busModeValue(const Data& value) {
    if (value.empty()) return;
    BusMode mode = value[0];
    {
        std::lock_guard lock(mutex_);
        if (mode == busMode_) return;
        busMode_ = mode;
    }
    announce("busMode");
    if (auto s = serialDelegate()) s->busModeChanged(mode, shared_from_this());
    if (deviceState() == DeviceState::Interrogating) changeDeviceState(DeviceState::Connected);
}

void BGXDevice::firmwareRevisionValue(const Data& value) {
    // A value that is not UTF-8 has no parts.
    const std::optional<std::string> decoded = textOf(value);
    const std::string text = decoded.value_or("");
    std::vector<std::string> parts;
    for (size_t start = 0; decoded;) {
        size_t dash = text.find('-', start);
        parts.push_back(text.substr(start, dash == std::string::npos ? dash : dash - start));
        if (dash == std::string::npos) break;
        start = dash + 1;
    }
    if (parts.size() != 3) {
        disconnectWithError(BleError::att(1));
        return;
    }
    std::optional<std::string> revision;
    if (parts[0].rfind("BGX13", 0) == 0) {
        size_t dot = parts[0].find('.');
        if (dot != std::string::npos) revision = parts[0].substr(dot + 1);
    } else {
        console::log("Warning: Unexpected firmware revision string format: " + text);
        revision = text;
    }
    std::lock_guard lock(mutex_);
    if (revision) firmwareRevision_ = revision;
    bootloaderVersion_ = parts[1];
}

// MARK: receiving

void BGXDevice::didUpdateValueForCharacteristic(const std::shared_ptr<BlePeripheral>&,
                                                const BleCharacteristic& characteristic,
                                                const Data& value,
                                                const std::optional<BleError>& error) {
    if (error) {
        // The answer of a link that is closing or gone says nothing of the device now (it
        // might be connecting anew).
        auto state = deviceState();
        if (state == DeviceState::Interrogating || state == DeviceState::Connected)
            disconnectWithError(*error);
        else
            console::log("Error " + error->errorDescription() + " ignored: the link is " +
                         nameForDeviceState(static_cast<uint64_t>(state)));
        return;
    }
    // Which characteristic's value it is; the first match counts.
    using Stored = std::optional<BleCharacteristic> BGXDevice::*;
    using Handler = void (BGXDevice::*)(const Data&);
    static constexpr std::pair<Stored, Handler> kHandlers[] = {
        {&BGXDevice::perTXchar_, &BGXDevice::streamValue},
        {&BGXDevice::perRXchar_, &BGXDevice::fastAckValue},
        {&BGXDevice::modeChar_, &BGXDevice::busModeValue},
        {&BGXDevice::modelNumberChar_, &BGXDevice::modelNumberValue},
        {&BGXDevice::firRevStrChar_, &BGXDevice::firmwareRevisionValue},
        {&BGXDevice::deviceUniqueIdenChar_, &BGXDevice::deviceUniqueIdValue},
    };
    Handler handler = nullptr;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [stored, h] : kHandlers)
            if (is(this->*stored, characteristic)) {
                handler = h;
                break;
            }
    }
    if (handler) (this->*handler)(value);
}

void BGXDevice::deviceUniqueIdValue(const Data& value) {
    lockedAssign(mutex_, deviceUniqueIdValue_, value);
}

void BGXDevice::streamValue(const Data& value) {
    const int64_t n = static_cast<int64_t>(value.size());
    bool fastAck;
    int64_t overrun = 0;
    {
        std::lock_guard lock(mutex_);
        fastAck = fastAck_;
        if (fastAck) {
            fastAckRxBytes_ -= n;
            if (fastAckRxBytes_ < 0) {
                overrun = -fastAckRxBytes_;
                fastAckRxBytes_ = 0;
            }
        }
    }
    if (overrun > 0)
        console::log("BGX Warning: the module sent " + std::to_string(overrun) +
                     " bytes beyond its receive credit; credit kept at 0.");
    if (auto s = serialDelegate()) s->dataRead(value, shared_from_this());
    if (!fastAck) return;
    // The chunk has been handed on: its credit goes back to the module.
    std::weak_ptr<BGXDevice> weak = weak_from_this();
    queue_->async([weak, n] {
        auto self = weak.lock();
        if (!self) return;
        {
            std::lock_guard lock(self->mutex_);
            self->fastAckRxBytes_ = std::min(self->fastAckRxBytes_ + n, kInitialFastAckRxBytes);
        }
        self->sendFastAck({FastAckMessage::kAddCredit, static_cast<uint16_t>(n & 0xFFFF)});
    });
}

void BGXDevice::fastAckValue(const Data& value) {
    if (!fastAck()) console::log("Warning: fastAck received but fastAck is not enabled.");
    bool resume = false;
    {
        std::lock_guard lock(mutex_);
        auto message = FastAckMessage::parse(value);
        if (!message) return;
        if (message->command == FastAckMessage::kSetCredit)
            fastAckTxBytes_ = message->count;
        else if (message->command == FastAckMessage::kAddCredit)
            fastAckTxBytes_ += message->count;
        else
            return;
        // Either message resumes a write that waits for credit (the module's first credit may
        // come after the first write began); a chunk on its way goes on by its completion.
        resume = dataToWrite_ && !chunkInFlight_ && fastAckTxBytes_ >= 1;
    }
    if (!resume) return;
    // A write waiting for credit goes on.
    std::weak_ptr<BGXDevice> weak = weak_from_this();
    queue_->async([weak] {
        if (auto self = weak.lock()) self->writeChunkOfData();
    });
}

void BGXDevice::sendFastAck(FastAckMessage message) {
    std::optional<BleCharacteristic> tx;
    {
        std::lock_guard lock(mutex_);
        tx = perTXchar_;
        if (tx) unansweredWrites_.push_back(false);
    }
    if (tx) peripheral_->writeValue(message.bytes(), *tx, BleWriteType::withoutResponse);
}

// MARK: sending

bool BGXDevice::writeData(const Data& data) {
    if (data.empty()) return false;
    return onQueue([&] {
        {
            std::lock_guard lock(mutex_);
            if (deviceState_ != DeviceState::Connected || dataToWrite_ || !perRXchar_) return false;
            if (dataWriteSize_ == 0) {
                dataWriteSize_ =
                    std::min(peripheral_->maximumWriteValueLength(BleWriteType::withResponse),
                             peripheral_->maximumWriteValueLength(BleWriteType::withoutResponse));
                if (dataWriteSize_ == 0) dataWriteSize_ = 20;
            }
            dataToWrite_ = data;
            rangeLocation_ = 0;
            rangeLength_ = 0;
        }
        writeChunkOfData();
        return true;
    });
}

bool BGXDevice::writeString(const std::string& text) {
    return writeData(Data(text.begin(), text.end()));
}

bool BGXDevice::sendCommand(const std::string& command, const std::string& args) {
    console::log("Writing string....");
    return writeString(command + " " + args + "\r\n");
}

// Hands the next chunk to the peripheral: as many bytes as remain, at most the write length and,
// with fast acknowledgement, at most the transmit credit.
void BGXDevice::writeChunkOfData() {
    Data chunk;
    BleCharacteristic rx;
    BleWriteType type;
    {
        std::lock_guard lock(mutex_);
        if (!dataToWrite_ || !perRXchar_) return;
        if (fastAck_ && fastAckTxBytes_ < 1) return;
        const uint64_t total = dataToWrite_->size();
        const uint64_t remaining = total - rangeLocation_;
        if (remaining == 0) return;
        uint64_t limit = dataWriteSize_;
        if (fastAck_) limit = std::min<uint64_t>(limit, static_cast<uint64_t>(fastAckTxBytes_));
        const uint64_t n = std::min(remaining, limit);
        auto first = dataToWrite_->begin() + static_cast<std::ptrdiff_t>(rangeLocation_);
        chunk.assign(first, first + static_cast<std::ptrdiff_t>(n));
        rangeLength_ = n;
        rangeLocation_ += n;
        if (fastAck_) fastAckTxBytes_ -= static_cast<int64_t>(n);
        rx = *perRXchar_;
        type = (fastAck_ || !writeWithResponse_) ? BleWriteType::withoutResponse
                                                 : BleWriteType::withResponse;
        chunkInFlight_ = true;
        chunkWithoutResponse_ = type == BleWriteType::withoutResponse;
        if (chunkWithoutResponse_) unansweredWrites_.push_back(true);
    }
    peripheral_->writeValue(chunk, rx, type);
}

// A chunk completed: the write ends when every byte is out, else the next chunk goes.
void BGXDevice::finishChunk() {
    bool done;
    {
        std::lock_guard lock(mutex_);
        chunkInFlight_ = false;
        if (!dataToWrite_) return;
        done = rangeLocation_ == dataToWrite_->size();
        if (done) dataToWrite_.reset();
    }
    if (!done) {
        writeChunkOfData();
        return;
    }
    if (auto s = serialDelegate()) s->dataWrittenForDevice(shared_from_this());
}

void BGXDevice::dropPendingWrite(const char* why) {
    bool dropped;
    {
        std::lock_guard lock(mutex_);
        dropped = dataToWrite_.has_value();
        dataToWrite_.reset();
        chunkInFlight_ = false;
        rangeLocation_ = rangeLength_ = 0;
    }
    if (dropped) console::log(std::string("BGX Warning: unfinished write dropped: ") + why);
}

void BGXDevice::didWriteValueForCharacteristic(const std::shared_ptr<BlePeripheral>&,
                                               const BleCharacteristic& characteristic,
                                               const std::optional<BleError>& error) {
    bool data;
    bool mode;
    {
        std::lock_guard lock(mutex_);
        data = is(perRXchar_, characteristic);
        mode = is(modeChar_, characteristic);
        // A write without response that failed is answered here, not by a ready-to-send: a
        // credit message (the TX characteristic takes nothing else) or a data chunk.
        const bool credit = is(perTXchar_, characteristic);
        if (error && (credit || (data && chunkWithoutResponse_)) && !unansweredWrites_.empty())
            unansweredWrites_.pop_front();
    }
    if (error)
        console::log("Error " + error->errorDescription() +
                     " writing to the characteristic (UUID): " + bleUUIDText(characteristic.uuid));
    if (mode) {
        BusModeCompletion handler;
        {
            std::lock_guard lock(mutex_);
            if (!mBusModeCompletionHandlers_.empty()) {
                handler = std::move(mBusModeCompletionHandlers_.front());
                mBusModeCompletionHandlers_.pop_front();
            }
        }
        if (handler) handler(shared_from_this(), error);
    }
    if (!data) return;
    if (error) {
        // The rest of a failed write is not sent; the next write may go.
        dropPendingWrite("the write failed");
        return;
    }
    finishChunk();
}

void BGXDevice::peripheralIsReadyToSendWriteWithoutResponse(const std::shared_ptr<BlePeripheral>&) {
    bool chunk;
    {
        std::lock_guard lock(mutex_);
        if (unansweredWrites_.empty()) return;
        chunk = unansweredWrites_.front();
        unansweredWrites_.pop_front();
    }
    // A credit message that went out completes no chunk.
    if (chunk) finishChunk();
}

void BGXDevice::didUpdateNotificationStateForCharacteristic(const std::shared_ptr<BlePeripheral>&,
                                                            const BleCharacteristic& characteristic,
                                                            const std::optional<BleError>& error) {
    if (!error) return;
    bool ours;
    {
        std::lock_guard lock(mutex_);
        ours = is(perRXchar_, characteristic) || is(perTXchar_, characteristic) ||
               is(modeChar_, characteristic);
    }
    console::log("Error " + error->errorDescription() +
                 " subscribing to the characteristic (UUID): " + bleUUIDText(characteristic.uuid));
    // Without its notifications the stream receives nothing (TX), gets no credit (RX) or never
    // sees the bus mode: the link cannot be used.
    auto state = deviceState();
    if (ours && (state == DeviceState::Interrogating || state == DeviceState::Connected))
        disconnectWithError(*error);
}

// MARK: bus mode

bool BGXDevice::readBusMode() {
    return onQueue([&] {
        std::optional<BleCharacteristic> mode;
        {
            std::lock_guard lock(mutex_);
            if (deviceState_ != DeviceState::Connected || !modeChar_) return false;
            mode = modeChar_;
        }
        peripheral_->readValue(*mode);
        return true;
    });
}

bool BGXDevice::writeBusMode(BusMode mode) {
    return writeBusMode(mode, std::nullopt, nullptr);
}

bool BGXDevice::writeBusMode(BusMode mode, const std::optional<std::string>& password,
                             BusModeCompletion completionHandler) {
    return onQueue([&] {
        std::optional<BleCharacteristic> modeChar;
        {
            std::lock_guard lock(mutex_);
            if (deviceState_ != DeviceState::Connected || !modeChar_ || mode == busMode_)
                return false;
            modeChar = modeChar_;
            // Queued only for a write that is really made; one entry per write (empty without a
            // handler) keeps each completion with its own write.
            mBusModeCompletionHandlers_.push_back(std::move(completionHandler));
        }
        // GCC 12 sees the vector's inlined copies here out of bounds or reading past their
        // source, which they cannot (false warnings).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#pragma GCC diagnostic ignored "-Wstringop-overread"
        Data value{static_cast<uint8_t>(mode & 0xFF)};
        if (password) {
            value.insert(value.end(), password->begin(), password->end());
            value.push_back(0);
        }
#pragma GCC diagnostic pop
        peripheral_->writeValue(value, *modeChar, BleWriteType::withResponse);
        return true;
    });
}

// MARK: signal strength

void BGXDevice::didReadRSSI(const std::shared_ptr<BlePeripheral>&, int rssi,
                            const std::optional<BleError>& error) {
    if (error) {
        console::log("Error reading RSSI: " + error->errorDescription());
        return;
    }
    {
        std::lock_guard lock(mutex_);
        if (rssi == rssi_) return;
        rssi_ = rssi;
    }
    announce("rssi");
    if (auto d = deviceDelegate()) d->rssiChangedForDevice(shared_from_this());
}

}  // namespace qz
