#include "api/Communication/SessionController.hpp"

#include <algorithm>
#include <cctype>

#include "api/Communication/LESessionController.hpp"
#include "api/Communication/MFISessionController.hpp"
#include "api/Communication/PelkNotifications.hpp"
#include "api/Logging/Log.hpp"
#include "platform/Describe.hpp"
#include "platform/Locked.hpp"

namespace qz {

std::shared_ptr<SessionController> SessionController::create() {
    std::shared_ptr<SessionController> controller(new SessionController());
    std::weak_ptr<SessionController> weak = controller;
    controller->timedOutToken_ = NotificationCenter::defaultCenter().addObserver(
        PelkNotifications::SENSOR_TIMEDOUT, [weak](const Notification&) {
            if (auto self = weak.lock()) self->timedOut();
        });
    return controller;
}

SessionController::SessionController()
    : mfiController_(MFISessionController::create()),
      leController_(LESessionController::create()) {}

SessionController::~SessionController() {
    NotificationCenter::defaultCenter().removeObserver(timedOutToken_);
}

std::shared_ptr<DispatchQueue> SessionController::btQueue() {
    // Leaked, as the other queues: work may still be queued here at exit.
    static const auto* queue = new std::shared_ptr<DispatchQueue>(
        DispatchQueue::create("BtCommunicationQueue", DispatchQueue::concurrent));
    return *queue;
}

void SessionController::setSensorDelegate(std::shared_ptr<SensorDelegate> delegate) {
    std::shared_ptr<SensorReceiver> receiver;
    {
        std::lock_guard lock(mutex_);
        sensorDelegate_ = delegate;
        receiver = sensorReceiver_.lock();
    }
    if (delegate && receiver) delegate->setReceiver(receiver);
}

void SessionController::connect(std::shared_ptr<PelkSensor> sensor, StatusListener listener) {
    if (!sensor) return;
    lockedAssign(mutex_, activeSensor_, sensor);
    // The listener is optional: "Optional((Function))" or "nil".
    Log::PublicInfo("Connect called on sensor " + sensor->description() + " with listener: " +
                    (listener ? "Optional(" + describe(listener) + ")" : std::string("nil")));
    NotificationCenter::defaultCenter().post(PelkNotifications::SENSOR_CONNECT_STARTED);
    // The session becomes current before it opens: a fast link reports `connected`, and the
    // relay sends, before the open call returns.
    if (sensor->sensorType().isMfi()) {
        setSensorDelegate(mfiController_);
        mfiController_->openSession(sensor, false, std::move(listener));
        return;
    }
    auto le = leController();
    if (!le) {
        // No BLE session in this build: fail the connection cleanly.
        Log::e("No BLE session available for sensor " + sensor->description());
        setSensorDelegate(nullptr);
        if (listener) listener(SensorConnectionStatus::errorOpeningConnection);
        return;
    }
    setSensorDelegate(le);
    le->connectToDevice(sensor->sensorType().asLe().uuid, std::move(listener));
}

void SessionController::disconnect(bool notify) {
    auto sensor = activeSensor();
    if (!sensor) return;
    Log::PublicInfo("Disconnecting sensor " + sensor->description() + ")");
    if (sensor->sensorType().isMfi()) {
        mfiController_->closeSession(notify);
    } else if (auto le = leController()) {
        le->disconnectDevice();
    }
}

void SessionController::openSession(std::shared_ptr<PelkSensor> sensor, bool fwSession,
                                    StatusListener listener) {
    auto active = activeSensor();
    if (!active) return;
    if (active->sensorType().isMfi()) {
        mfiController_->openSession(sensor, fwSession, std::move(listener));
    } else if (listener) {
        listener(SensorConnectionStatus::errorOpeningConnection);
    }
}

std::optional<std::string> SessionController::currentMac() const {
    auto sensor = activeSensor();
    if (!sensor) return std::nullopt;
    const auto& type = sensor->sensorType();
    if (type.isMfi()) return type.asMfi().mac;
    std::string lower = sensor->name();
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower.find("astech") != std::string::npos) {
        const std::string& name = sensor->name();
        auto at = name.rfind(' ');
        return at == std::string::npos ? name : name.substr(at + 1);
    }
    return type.asLe().uuid.uuidString();
}

void SessionController::send(const std::string& cmd) {
    handOver(cmd, {});
}

void SessionController::handOver(const std::string& cmd, const Handing& handing) {
    if (auto delegate = sensorDelegate())
        delegate->handOver(cmd, handing);
    else if (handing)
        handing();  // dropped, as without a link: the relay's wait tells
}

void SessionController::write(const Data& fwdata, bool useFwDelegate) {
    if (auto delegate = sensorDelegate()) delegate->write(fwdata, useFwDelegate);
}

void SessionController::setReceiver(const std::shared_ptr<SensorReceiver>& receiver) {
    std::shared_ptr<SensorDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        sensorReceiver_ = receiver;
        delegate = sensorDelegate_;
    }
    if (delegate && receiver) delegate->setReceiver(receiver);
}

bool SessionController::isLinkOpen() const {
    auto delegate = sensorDelegate();
    return !delegate || delegate->isLinkOpen();
}

void SessionController::timedOut() {
    Log::PublicInfo("Sensor timed out, disconnecting");
    disconnect(true);
}

std::shared_ptr<LESessionLink> SessionController::leController() const {
    return lockedCopy(mutex_, leController_);
}

void SessionController::setLESession(std::shared_ptr<LESessionLink> session) {
    BroadcastListener listener;
    {
        std::lock_guard lock(mutex_);
        leController_ = session;
        listener = broadcastListener_;
    }
    if (session) session->setBroadcastListener(std::move(listener));
}

std::shared_ptr<PelkSensor> SessionController::activeSensor() const {
    return lockedCopy(mutex_, activeSensor_);
}

std::shared_ptr<SensorDelegate> SessionController::sensorDelegate() const {
    return lockedCopy(mutex_, sensorDelegate_);
}

BroadcastListener SessionController::broadcastListener() const {
    return lockedCopy(mutex_, broadcastListener_);
}

void SessionController::setBroadcastListener(BroadcastListener listener) {
    std::shared_ptr<LESessionLink> le;
    {
        std::lock_guard lock(mutex_);
        broadcastListener_ = listener;
        le = leController_;
    }
    mfiController_->setBroadcastListener(listener);
    if (le) le->setBroadcastListener(listener);
}

StatusListener SessionController::statusListener() const {
    return lockedCopy(mutex_, statusListener_);
}

void SessionController::setStatusListener(StatusListener listener) {
    lockedAssign(mutex_, statusListener_, std::move(listener));
}

StatusListener SessionController::firmwareStatusListener() const {
    return lockedCopy(mutex_, firmwareStatusListener_);
}

void SessionController::setFirmwareStatusListener(StatusListener listener) {
    lockedAssign(mutex_, firmwareStatusListener_, std::move(listener));
}

BroadcastListener SessionController::firmwareBroadcastListener() const {
    return lockedCopy(mutex_, firmwareBroadcastListener_);
}

void SessionController::setFirmwareBroadcastListener(BroadcastListener listener) {
    lockedAssign(mutex_, firmwareBroadcastListener_, std::move(listener));
}

bool SessionController::autoReconnect() const {
    return lockedCopy(mutex_, autoReconnect_);
}

void SessionController::setAutoReconnect(bool value) {
    lockedAssign(mutex_, autoReconnect_, value);
}

}  // namespace qz
