#include "api/Communication/LESessionController.hpp"

#include <algorithm>

#include "api/Communication/PelkNotifications.hpp"
#include "api/Gateway/Gateway.hpp"
#include "api/Logging/Log.hpp"
#include "api/Utils/StringXor.hpp"
#include "platform/Locked.hpp"

namespace qz {

std::shared_ptr<PelkSensor> pelkSensor(const BGXDevice& device) {
    return PelkSensor::create(device.name().value_or(""), SensorType::le(device.identifier()));
}

// MARK: bridge

std::shared_ptr<LESessionObjcBridge> LESessionObjcBridge::create() {
    // The Bluetooth stack's own lines (no system bus, no adapter, a refused call) go to the
    // library's log, not to the host's standard error.
    static std::once_flag logged;
    std::call_once(logged, [] { setBleLogSink([](const std::string& line) { Log::i(line); }); });
    std::shared_ptr<LESessionObjcBridge> bridge(new LESessionObjcBridge());
    // Made on the driver's queue: the central's first report, queued there, finds the bridge
    // complete.
    DispatchQueue::main()->sync(
        [&] { bridge->bgxDeviceScanner_ = BGXScanner::create(DispatchQueue::main(), bridge); });
    return bridge;
}

LESessionObjcBridge::LESessionObjcBridge() = default;

BroadcastListener LESessionObjcBridge::broadcastListener() const {
    return lockedCopy(mutex_, broadcastListener_);
}

void LESessionObjcBridge::setBroadcastListener(BroadcastListener listener) {
    lockedAssign(mutex_, broadcastListener_, std::move(listener));
}

StatusListener LESessionObjcBridge::connectionListener() const {
    return lockedCopy(mutex_, connectionListener_);
}

std::shared_ptr<SensorReceiver> LESessionObjcBridge::receiver() const {
    return lockedCopy(mutex_, receiver_).lock();
}

void LESessionObjcBridge::setReceiver(const std::shared_ptr<SensorReceiver>& receiver) {
    lockedAssign(mutex_, receiver_, receiver);
}

std::shared_ptr<BGXDevice> LESessionObjcBridge::device() const {
    return lockedCopy(mutex_, device_);
}

std::vector<std::shared_ptr<BGXDevice>> LESessionObjcBridge::discoveredDevices() const {
    return lockedCopy(mutex_, discoveredDevices_);
}

void LESessionObjcBridge::bluetoothStateChanged(int state) {
    if (state == static_cast<int>(BleManagerState::poweredOn)) bgxDeviceScanner_->startScan();
}

void LESessionObjcBridge::scanStateChanged(ScanState state) {
    if (state == ScanState::Unavailable) Log::PublicError("BLE Cant scan, BLE is not powered on");
}

void LESessionObjcBridge::deviceDiscovered(const std::shared_ptr<BGXDevice>& device) {
    BroadcastListener listener;
    {
        std::lock_guard lock(mutex_);
        discoveredDevices_.push_back(device);
        listener = broadcastListener_;
    }
    if (listener) listener(pelkSensor(*device), BroadcastStatus::appeared);
}

void LESessionObjcBridge::connectToDevice(const UUID& identifier, StatusListener listener) {
    // On the driver's queue: changes of the device already queued there (the end of an earlier
    // link) are reported before the request takes the device and the listener.
    bgxDeviceScanner_->queue()->sync(
        [&] { connectOnDriverQueue(identifier, std::move(listener)); });
}

void LESessionObjcBridge::connectOnDriverQueue(const UUID& identifier, StatusListener listener) {
    // The scanner's own device for the identifier: a listed one may be stale after a power
    // cycle or a rediscovery, and the central's events would no longer reach it.
    auto device = bgxDeviceScanner_->trackedDevice(identifier);
    if (!device) {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(discoveredDevices_.rbegin(), discoveredDevices_.rend(),
                               [&](const auto& d) { return d->identifier() == identifier; });
        if (it != discoveredDevices_.rend()) device = *it;
    }
    if (!device) {
        // Never discovered: say so instead of leaving the caller waiting.
        if (listener)
            Gateway::gatewayQueue()->async(
                [listener] { listener(SensorConnectionStatus::errorOpeningConnection); });
        return;
    }
    bgxDeviceScanner_->adopt(device);
    // The current device's link is still closing (the central reports its end later, as BlueZ
    // does): that end goes to the listener of the closing link, and this connect follows it.
    const bool closing = device->deviceState() == DeviceState::Disconnecting;
    std::shared_ptr<BGXDevice> previous;
    {
        std::lock_guard lock(mutex_);
        if (closing && device == device_) {
            deferredListener_ = std::move(listener);
            return;
        }
        deferredListener_.reset();
        previous = std::exchange(device_, device);
        connectionListener_ = std::move(listener);
        reportedState_ = device->deviceState();
        opened_ = false;
        openFailed_ = false;
    }
    decoder_.reset();
    auto self = shared_from_this();
    // A device replaced by this one keeps its link but tells the bridge nothing more: its data
    // is not the new link's reply.
    if (previous && previous != device) {
        if (previous->serialDelegate() == self) previous->setSerialDelegate(nullptr);
        if (previous->deviceDelegate() == self) previous->setDeviceDelegate(nullptr);
    }
    device->setSerialDelegate(self);
    device->setDeviceDelegate(self);
    device->connect();
}

void LESessionObjcBridge::cancelDeferredConnect() {
    std::optional<StatusListener> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped = std::exchange(deferredListener_, std::nullopt);
    }
    // The connect never started: its listener hears that there is no link.
    if (dropped && *dropped)
        Gateway::gatewayQueue()->async(
            [listener = *dropped] { listener(SensorConnectionStatus::disconnected); });
}

void LESessionObjcBridge::notifyForDisconnectionError(const BleError& error) {
    // Only the current device still calls the bridge. An error before the link was reported
    // open fails the connect: the app hears of it as an open error, not as a disconnect. The
    // device is already `Disconnecting` here, so what counts is whether it was ever reported
    // `Connected`.
    {
        std::lock_guard lock(mutex_);
        if (!device_) return;
        if (!opened_) openFailed_ = true;
    }
    Log::e("BLE connection failed: " + error.localizedDescription());
}

void LESessionObjcBridge::stateChangedForDevice(const std::shared_ptr<BGXDevice>& device) {
    // Read now, on the driver's queue, as the change happens.
    const DeviceState state = device->deviceState();
    StatusListener listener;
    bool failed = false;
    bool deferred = false;
    {
        std::lock_guard lock(mutex_);
        if (device != device_ || reportedState_ == state) return;
        reportedState_ = state;
        listener = connectionListener_;
        if (state == DeviceState::Connected) opened_ = true;
        if (state == DeviceState::Disconnected) {
            failed = std::exchange(openFailed_, false);
            deferred = deferredListener_.has_value();
        }
    }
    if (state != DeviceState::Connected && state != DeviceState::Disconnected) return;
    const bool closed = state == DeviceState::Disconnected;
    // At once, not behind the work that "GatewayQueue" may be busy with: the relay stops
    // waiting for replies that cannot come.
    if (closed)
        if (auto target = receiver()) target->linkClosed();
    if (failed) {
        Gateway::gatewayQueue()->async([listener] {
            if (listener) listener(SensorConnectionStatus::errorOpeningConnection);
        });
    } else {
        Gateway::gatewayQueue()->async([listener, closed] {
            if (listener)
                listener(closed ? SensorConnectionStatus::disconnected
                                : SensorConnectionStatus::connected);
            if (closed)
                NotificationCenter::defaultCenter().post(PelkNotifications::SENSOR_DISCONNECTED);
        });
    }
    if (!deferred) return;
    // The connect that waited for this end starts once the driver has finished with it.
    std::weak_ptr<LESessionObjcBridge> weak = weak_from_this();
    bgxDeviceScanner_->queue()->async([weak, identifier = device->identifier()] {
        auto self = weak.lock();
        if (!self) return;
        std::optional<StatusListener> next;
        {
            std::lock_guard lock(self->mutex_);
            next = std::exchange(self->deferredListener_, std::nullopt);
        }
        // None left: a later connect request has taken over.
        if (next) self->connectOnDriverQueue(identifier, std::move(*next));
    });
}

void LESessionObjcBridge::dataRead(const Data& data, const std::shared_ptr<BGXDevice>& device) {
    // Only the current device's data is a reply to the relay's command.
    if (device != this->device()) return;
    // Descrambled byte by byte before it is read as UTF-8: scrambled non-ASCII text is not
    // UTF-8 on the wire.
    auto decoded = decoder_.decode(data);
    if (decoded.invalid) Log::i("Could not read from stream");
    if (decoded.text.empty()) return;  // only the start of a character so far
    const std::string& text = decoded.text;
    auto target = receiver();
    if (!target) {
        Log::i("No receiver set, msg is not forwarded: " + text);
        return;
    }
    target->received(text);
}

// MARK: session

std::shared_ptr<LESessionController> LESessionController::create() {
    std::shared_ptr<LESessionController> session(new LESessionController());
    return session;
}

LESessionController::LESessionController() : controller_(LESessionObjcBridge::create()) {}

void LESessionController::send(const std::string& cmd) {
    handOver(cmd, {});
}

void LESessionController::handOver(const std::string& cmd, const Handing& handing) {
    // Scrambled as bytes and sent as bytes: a UTF-8 round trip would empty non-ASCII text.
    transmit(xorData(Data(cmd.begin(), cmd.end())), handing);
}

void LESessionController::write(const Data& fwdata, bool) {
    transmit(fwdata);
}

void LESessionController::transmit(Data bytes, Handing handing) {
    std::weak_ptr<LESessionController> weak = weak_from_this();
    controller_->bgxDeviceScanner()->queue()->async(
        [weak, bytes = std::move(bytes), handing = std::move(handing)] {
            auto self = weak.lock();
            if (!self) return;
            // Its turn: the link takes it now, unless its exchange ended while it waited.
            if (handing && !handing()) return;
            if (auto device = self->controller_->device()) device->writeData(bytes);
        });
}

void LESessionController::setReceiver(const std::shared_ptr<SensorReceiver>& receiver) {
    lockedAssign(mutex_, receiver_, receiver);
    controller_->setReceiver(receiver);
}

std::shared_ptr<SensorReceiver> LESessionController::receiver() const {
    return lockedCopy(mutex_, receiver_).lock();
}

void LESessionController::connectToDevice(const UUID& uuid, StatusListener listener) {
    controller_->connectToDevice(uuid, std::move(listener));
}

void LESessionController::connect(const std::shared_ptr<PelkSensor>& sensor,
                                  StatusListener listener) {
    if (sensor && sensor->sensorType().isLe())
        controller_->connectToDevice(sensor->sensorType().asLe().uuid, std::move(listener));
}

bool LESessionController::isLinkOpen() const {
    auto device = controller_->device();
    return device && device->deviceState() != DeviceState::Disconnected;
}

void LESessionController::disconnectDevice() {
    controller_->cancelDeferredConnect();
    if (auto device = controller_->device()) device->disconnect();
}

void LESessionController::disconnect(bool) {
    disconnectDevice();
}

void LESessionController::setBroadcastListener(BroadcastListener listener) {
    lockedAssign(mutex_, broadcastListener_, listener);
    controller_->setBroadcastListener(std::move(listener));
}

BroadcastListener LESessionController::broadcastListener() const {
    return lockedCopy(mutex_, broadcastListener_);
}

std::vector<std::shared_ptr<PelkSensor>> LESessionController::discoveredDevices() const {
    std::vector<std::shared_ptr<PelkSensor>> sensors;
    for (const auto& device : controller_->discoveredDevices())
        sensors.push_back(pelkSensor(*device));
    return sensors;
}

}  // namespace qz
