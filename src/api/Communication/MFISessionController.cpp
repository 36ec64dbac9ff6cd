#include "api/Communication/MFISessionController.hpp"

#include <algorithm>
#include <source_location>

#include "api/Communication/PelkNotifications.hpp"
#include "api/Communication/SensorTextDecoder.hpp"
#include "api/Logging/Log.hpp"
#include "api/Utils/StringXor.hpp"
#include "platform/DispatchQueue.hpp"
#include "platform/Locked.hpp"
#include "platform/accessory/AccessoryManager.hpp"

namespace qz {

namespace {

bool speaksSensorProtocol(const Accessory& accessory) {
    const auto& protocols = accessory.protocolStrings();
    return std::find(protocols.begin(), protocols.end(), kSensorProtocol) != protocols.end();
}

const std::string* textValue(const std::any& value) {
    if (const auto* s = std::any_cast<std::string>(&value)) return s;
    return nullptr;
}

// Everything the stream has now, 1024 bytes per read. A failed read ends the reading;
// the bytes read before it are kept and `failed` is set.
Data readAvailable(InputStream& stream, bool& failed) {
    Data data;
    uint8_t buffer[1024];
    failed = false;
    while (stream.hasBytesAvailable()) {
        long n = stream.read(buffer, sizeof buffer);
        if (n < 0) {
            failed = true;
            break;
        }
        if (n == 0) break;
        data.insert(data.end(), buffer, buffer + n);
    }
    return data;
}

std::shared_ptr<Accessory> accessoryOf(const Notification& notification) {
    const auto* accessory = notification.value<std::shared_ptr<Accessory>>(kAccessoryKey);
    return accessory ? *accessory : nullptr;
}

// The accessory of an accessory notification when it speaks the sensor protocol, else null;
// logs which it is, for the `event` ("connected", "disconnected") at the caller's position.
std::shared_ptr<Accessory> sensorAccessoryOf(
    const Notification& notification, const std::string& event,
    const std::source_location& at = std::source_location::current()) {
    auto accessory = accessoryOf(notification);
    if (!accessory) {
        Log::i("Error, no user info for accessory", at);
        return nullptr;
    }
    if (!speaksSensorProtocol(*accessory)) {
        Log::PublicInfo(
            "Non Ostrel MFI Accessory " + event + ": " + describe(accessory->protocolStrings()),
            at);
        return nullptr;
    }
    Log::PublicInfo("Ostrel MFI Accessory " + event + ": " + describe(accessory->protocolStrings()),
                    at);
    return accessory;
}

}  // namespace

std::shared_ptr<PelkSensor> pelkSensor(const Accessory& accessory) {
    std::any value = accessory.valueForKey("macAddress");
    if (!value.has_value()) value = std::string("????");
    std::string identifier;
    std::string name = "Ostrel";
    if (const auto* text = textValue(value)) {
        static const std::string kKept = "01234567890ABCDEF";
        for (char c : *text)
            if (kKept.find(c) != std::string::npos) identifier.push_back(c);
        name = "Ostrel " +
               identifier.substr(identifier.size() - std::min<size_t>(4, identifier.size()));
    }
    if (!speaksSensorProtocol(accessory)) {
        Log::PublicInfo("Non-Ostrel MFI sensor detected: " + describe(accessory.protocolStrings()));
        return nullptr;
    }
    return PelkSensor::create(name, SensorType::mfi(identifier, accessory.connectionID()));
}

std::shared_ptr<MFISessionController> MFISessionController::create() {
    std::shared_ptr<MFISessionController> controller(new MFISessionController());
    controller->setup();
    return controller;
}

MFISessionController::MFISessionController() : activeRunLoop_(RunLoop::current()) {
    Log::d("Created Classic Controller");
}

void MFISessionController::setup() {
    std::weak_ptr<MFISessionController> weak = weak_from_this();
    auto& center = NotificationCenter::defaultCenter();
    disconnectToken_ =
        center.addObserver(kAccessoryDidDisconnectNotification, [weak](const Notification& n) {
            if (auto self = weak.lock()) self->accessoryDidDisconnect(n);
        });
    connectToken_ =
        center.addObserver(kAccessoryDidConnectNotification, [weak](const Notification& n) {
            if (auto self = weak.lock()) self->accessoryDidConnect(n);
        });
    AccessoryManager::shared().registerForLocalNotifications();
}

MFISessionController::~MFISessionController() {
    auto& center = NotificationCenter::defaultCenter();
    center.removeObserver(connectToken_);
    center.removeObserver(disconnectToken_);
    AccessoryManager::shared().unregisterForLocalNotifications();
}

void MFISessionController::setSessionLocked(std::shared_ptr<AccessorySession> session) {
    session_ = std::move(session);
    if (session_ && session_->accessory()) {
        const std::any value = session_->accessory()->valueForKey("macAddress");
        if (const auto* mac = textValue(value)) currentMac_ = *mac;
    } else {
        currentMac_.reset();
    }
}

void MFISessionController::openSession(const std::shared_ptr<PelkSensor>& sensor, bool fwSession,
                                       StatusListener listener) {
    std::shared_ptr<Accessory> found;
    if (sensor && sensor->sensorType().isMfi()) {
        const int64_t id = sensor->sensorType().asMfi().connectionId;
        for (const auto& accessory : AccessoryManager::shared().connectedAccessories()) {
            if (accessory->connectionID() == id) {
                found = accessory;
                break;
            }
        }
    }
    if (!found) {
        Log::e("💥Error connecting to sensor, not found💥");
        // A caller waiting for a status must hear one.
        if (listener) listener(SensorConnectionStatus::errorOpeningConnection);
        return;
    }
    openSession(found, fwSession, std::move(listener));
}

void MFISessionController::openSession(const std::shared_ptr<Accessory>& accessory, bool fwSession,
                                       StatusListener listener) {
    lockedAssign(mutex_, fwSession_, fwSession);
    Log::i("Opening session");
    closeSession(false);
    {
        std::lock_guard lock(mutex_);
        if (fwSession)
            firmwareStatusListener_ = listener;
        else
            statusListener_ = listener;
    }
    auto session = AccessorySession::create(accessory, kSensorProtocol);
    if (!session || !session->inputStream() || !session->outputStream()) {
        {
            std::lock_guard lock(mutex_);
            setSessionLocked(nullptr);
        }
        Log::e("Error opening session streams");
        if (listener) listener(SensorConnectionStatus::errorOpeningConnection);
        return;
    }
    Log::i("Opened session: " + session->description() + " for : " + accessory->description());
    std::shared_ptr<RunLoop> loop = RunLoop::main();
    {
        std::lock_guard lock(mutex_);
        setSessionLocked(session);
        activeRunLoop_ = loop;
        pendingWrite_.clear();
    }
    decoder_.reset();
    std::weak_ptr<StreamDelegate> self = weak_from_this();
    const auto& in = session->inputStream();
    const auto& out = session->outputStream();
    in->setDelegate(self);
    in->scheduleInRunLoop(loop, kDefaultRunLoopMode);
    out->setDelegate(self);
    out->scheduleInRunLoop(loop, kDefaultRunLoopMode);
    in->open();
    out->open();
}

void MFISessionController::closeSession(bool notify) {
    std::shared_ptr<AccessorySession> session;
    std::shared_ptr<RunLoop> loop;
    StatusListener listener;
    {
        std::lock_guard lock(mutex_);
        session = session_;
        loop = activeRunLoop_;
        listener = statusListener_;
        setSessionLocked(nullptr);
        pendingWrite_.clear();
    }
    if (!session || !session->inputStream() || !session->outputStream()) {
        Log::i("Streams not open");
        return;
    }
    Log::i("Closing open session " + session->description());
    for (std::shared_ptr<Stream> stream :
         {std::static_pointer_cast<Stream>(session->inputStream()),
          std::static_pointer_cast<Stream>(session->outputStream())}) {
        stream->close();
        stream->setDelegate({});
        stream->removeFromRunLoop(loop, kDefaultRunLoopMode);
    }
    // The relay stops waiting for replies that cannot come.
    if (auto receiver = lockedCopy(mutex_, receiver_).lock()) receiver->linkClosed();
    if (notify && listener) listener(SensorConnectionStatus::disconnected);
    NotificationCenter::defaultCenter().post(PelkNotifications::SENSOR_DISCONNECTED);
}

bool MFISessionController::isLinkOpen() const {
    std::lock_guard lock(mutex_);
    return session_ != nullptr;
}

std::vector<std::shared_ptr<PelkSensor>> MFISessionController::connectedSensors() {
    auto accessories = AccessoryManager::shared().connectedAccessories();
    std::string list = "[";
    for (size_t i = 0; i < accessories.size(); ++i) {
        if (i) list += ", ";
        list += accessories[i]->description();
    }
    Log::i("Connected accessories: " + list + "]");
    std::vector<std::shared_ptr<PelkSensor>> sensors;
    for (const auto& accessory : accessories)
        if (auto sensor = pelkSensor(*accessory)) sensors.push_back(std::move(sensor));
    return sensors;
}

void MFISessionController::flushLocked(const std::shared_ptr<OutputStream>& out) {
    while (!pendingWrite_.empty()) {
        long n = out->write(pendingWrite_.data(), pendingWrite_.size());
        if (n < 0) {
            Log::e("Could not write to stream, " + std::to_string(pendingWrite_.size()) +
                   " bytes dropped");
            pendingWrite_.clear();
            return;
        }
        if (n == 0) return;  // the rest goes on has-space-available
        pendingWrite_.erase(pendingWrite_.begin(), pendingWrite_.begin() + n);
    }
}

void MFISessionController::send(const std::string& cmd) {
    Data bytes = xorData(Data(cmd.begin(), cmd.end()));
    std::lock_guard lock(mutex_);
    awaitingFwResponse_ = false;
    if (bytes.empty() || !session_ || !session_->outputStream()) return;
    pendingWrite_.insert(pendingWrite_.end(), bytes.begin(), bytes.end());
    flushLocked(session_->outputStream());
}

void MFISessionController::write(const Data& fwdata, bool useFwDelegate) {
    std::lock_guard lock(mutex_);
    awaitingFwResponse_ = useFwDelegate;
    if (!session_ || !session_->outputStream()) return;
    pendingWrite_.insert(pendingWrite_.end(), fwdata.begin(), fwdata.end());
    flushLocked(session_->outputStream());
}

void MFISessionController::setReceiver(const std::shared_ptr<SensorReceiver>& receiver) {
    lockedAssign(mutex_, receiver_, receiver);
}

void MFISessionController::stream(const std::shared_ptr<Stream>& stream, StreamEvent event) {
    switch (event) {
        case StreamEvent::hasSpaceAvailable: {
            std::lock_guard lock(mutex_);
            if (session_ && session_->outputStream() == stream)
                flushLocked(session_->outputStream());
            return;
        }
        case StreamEvent::hasBytesAvailable:
            if (stream->isInput())
                readToBuffer(stream);
            else
                Log::i("Reading form invalid stream");
            return;
        case StreamEvent::openCompleted: {
            Log::i("Stream open completed: " + stream->description());
            if (stream->isInput()) return;
            StatusListener listener;
            {
                std::lock_guard lock(mutex_);
                listener = firmwareStatusListener_ ? firmwareStatusListener_ : statusListener_;
            }
            if (listener)
                DispatchQueue::main()->async(
                    [listener] { listener(SensorConnectionStatus::connected); });
            return;
        }
        default:
            Log::i("Stream unhandled event: " + describe(event));
            return;
    }
}

void MFISessionController::readToBuffer(const std::shared_ptr<Stream>& stream) {
    std::shared_ptr<InputStream> in;
    {
        std::lock_guard lock(mutex_);
        if (!session_ || !session_->inputStream() || session_->inputStream() != stream) return;
        in = session_->inputStream();
    }
    while (in->hasBytesAvailable()) {
        bool failed = false;
        Data data = readAvailable(*in, failed);
        if (!data.empty()) {
            bool awaitingFw;
            std::shared_ptr<SensorReceiver> receiver;
            {
                std::lock_guard lock(mutex_);
                awaitingFw = awaitingFwResponse_;
                receiver = receiver_.lock();
            }
            // Text is descrambled byte-wise before it is read as UTF-8: scrambled non-ASCII
            // text is not UTF-8 on the wire.
            auto decoded = decoder_.decode(data, !awaitingFw);
            if (decoded.invalid) Log::i("Could not read from stream");
            if (decoded.text.empty()) {
                // Only the start of a character so far.
            } else if (receiver) {
                receiver->received(decoded.text);
            } else {
                Log::i("No receiver set, msg is not forwarded");
            }
        }
        if (failed) {
            Log::e("Stream read failed, reading stopped");
            return;
        }
        if (data.empty()) return;
    }
}

void MFISessionController::accessoryDidConnect(const Notification& notification) {
    Log::i("Accessory did connect");
    auto accessory = sensorAccessoryOf(notification, "connected");
    if (!accessory) return;
    StatusListener listener;
    bool reconnect = false;
    {
        std::lock_guard lock(mutex_);
        if (autoReconnect_ && lastSensorToDisconnect_) {
            lastSensorToDisconnect_.reset();
            autoReconnect_ = false;
            listener = statusListener_;
            reconnect = true;
        }
    }
    if (reconnect) {
        openSession(accessory, false, std::move(listener));
        return;
    }
    if (auto sensor = pelkSensor(*accessory))
        notifyConnectionEvent(std::move(sensor), BroadcastStatus::appeared);
}

void MFISessionController::accessoryDidDisconnect(const Notification& notification) {
    Log::i("Accessory did disconnect");
    auto accessory = sensorAccessoryOf(notification, "disconnected");
    if (!accessory) return;
    bool ours = false;
    bool fw = false;
    {
        std::lock_guard lock(mutex_);
        ours = session_ && session_->accessory() == accessory;
        fw = fwSession_;
    }
    if (!ours) return;
    auto sensor = pelkSensor(*accessory);
    if (!sensor) return;
    Log::i("Closing session from disconnect");
    closeSession(!fw);
    lockedAssign(mutex_, lastSensorToDisconnect_, accessory);
    notifyConnectionEvent(std::move(sensor), BroadcastStatus::disappeared);
}

void MFISessionController::notifyConnectionEvent(std::shared_ptr<PelkSensor> sensor,
                                                 BroadcastStatus status) {
    BroadcastListener listener;
    {
        std::lock_guard lock(mutex_);
        listener = firmwareBroadcastListener_ ? firmwareBroadcastListener_ : broadcastListener_;
    }
    if (!listener) return;
    DispatchQueue::main()->async([listener, sensor, status] { listener(sensor, status); });
}

std::shared_ptr<AccessorySession> MFISessionController::session() const {
    return lockedCopy(mutex_, session_);
}

bool MFISessionController::fwSession() const {
    return lockedCopy(mutex_, fwSession_);
}

std::optional<std::string> MFISessionController::currentMac() const {
    return lockedCopy(mutex_, currentMac_);
}

bool MFISessionController::awaitingFwResponse() const {
    return lockedCopy(mutex_, awaitingFwResponse_);
}

StatusListener MFISessionController::statusListener() const {
    return lockedCopy(mutex_, statusListener_);
}

StatusListener MFISessionController::firmwareStatusListener() const {
    return lockedCopy(mutex_, firmwareStatusListener_);
}

void MFISessionController::setFirmwareStatusListener(StatusListener listener) {
    lockedAssign(mutex_, firmwareStatusListener_, std::move(listener));
}

BroadcastListener MFISessionController::broadcastListener() const {
    return lockedCopy(mutex_, broadcastListener_);
}

void MFISessionController::setBroadcastListener(BroadcastListener listener) {
    lockedAssign(mutex_, broadcastListener_, std::move(listener));
}

BroadcastListener MFISessionController::firmwareBroadcastListener() const {
    return lockedCopy(mutex_, firmwareBroadcastListener_);
}

void MFISessionController::setFirmwareBroadcastListener(BroadcastListener listener) {
    lockedAssign(mutex_, firmwareBroadcastListener_, std::move(listener));
}

bool MFISessionController::autoReconnect() const {
    return lockedCopy(mutex_, autoReconnect_);
}

void MFISessionController::setAutoReconnect(bool value) {
    lockedAssign(mutex_, autoReconnect_, value);
}

}  // namespace qz
