#include "api/Gateway/Gateway.hpp"

#include "Version.hpp"
#include "api/Communication/MFISessionController.hpp"
#include "api/Communication/PelkError.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/DB/ManagedObjectModel.hpp"
#include "api/DB/MyPersistentContainer.hpp"
#include "api/Data/PelkData.hpp"
#include "api/Firmware/SkiffUpdater.hpp"
#include "api/Logging/FileLog.hpp"
#include "api/Logging/Log.hpp"
#include "api/PIDs/PIDInterface.hpp"
#include "api/Web/PelkWeb.hpp"
#include "api/config/ConfigManager.hpp"
#include "platform/Describe.hpp"
#include "platform/Locked.hpp"
#include "platform/web/URLSession.hpp"

namespace qz {

namespace {

std::atomic<int> GatewayCount{0};

}  // namespace

std::shared_ptr<DispatchQueue> Gateway::gatewayQueue() {
    // Leaked: session callbacks still running on other threads at exit may queue work here.
    static const auto* queue = new std::shared_ptr<DispatchQueue>(
        DispatchQueue::create("GatewayQueue", DispatchQueue::serial));
    return *queue;
}

int Gateway::gatewayCount() {
    return GatewayCount.load();
}

std::shared_ptr<Gateway> Gateway::create() {
    return std::shared_ptr<Gateway>(new Gateway());
}

Gateway::Gateway()
    : api_(std::make_shared<PelkWeb>(PelkWeb::defaultBaseURL(), URLSession::shared())),
      sessionController_(SessionController::create()),
      vehicle_(Vehicle::create()),
      pidInterface_(std::make_shared<PIDInterface>()),
      firmwareUpdater_(std::make_shared<SkiffUpdater>(std::nullopt, 375, false, false)) {
    Log::PublicInfo("Gateway initialized");
    if (int count = GatewayCount.fetch_add(1); count != 0)
        Log::PublicError("Multiple gateways created: current count :" + std::to_string(count));
    relay_ = Relay::create(sessionController_);

    if (auto loaded = ConfigManager::initializeFromBundles(); !loaded)
        Log::e("Could not load the configuration document: " + loaded.error().description());

    vehicle_->setRelay(relay_);
    pidInterface_->setRelay(relay_);
    pidInterface_->setVehicle(vehicle_);
    bindData();
    processCachedEvents();
}

Gateway::~Gateway() {
    int count = GatewayCount.fetch_sub(1) - 1;
    Log::PublicInfo("Gateway deinitialized, count: " + std::to_string(count));
    if (relay_ && relay_->bt()) {
        relay_->bt()->setBroadcastListener({});
        relay_->bt()->setStatusListener({});
    }
    // The engine's registry keeps the vehicle until the next gateway registers its own. The BLE
    // session goes with this gateway, and its Bluetooth central (with its bus thread) closes the
    // links it holds as it goes: a new gateway can connect the sensor.
    vehicle_->setRelay(nullptr);
    pidInterface_->setRelay(nullptr);
}

Gateway::SensorListener Gateway::sensorListener() const {
    return lockedCopy(mutex_, sensorListener_);
}

std::optional<YMME> Gateway::ymme() const {
    return lockedCopy(mutex_, ymme_);
}

void Gateway::setYmme(std::optional<YMME> value) {
    lockedAssign(mutex_, ymme_, std::move(value));
}

// MARK: connecting

void Gateway::connect(std::shared_ptr<PelkSensor> sensor, SensorListener listener) {
    Log::PublicFuncCall({"sensor: " + logText(sensor), "sensorListener: " + describe(listener)});
    if (!sensor) {
        Log::e("Cannot connect without a sensor");
        if (listener)
            DispatchQueue::main()->async([listener] {
                listener(PelkSensorState::onError(PelkError::general("Could not open stream", 99)));
            });
        return;
    }
    Log::i("Attempting to connect to sensor " + sensor->identifier().value_or(""));
    lockedAssign(mutex_, sensorListener_, listener);
    std::weak_ptr<Gateway> weak = weak_from_this();
    auto callback = [weak, sensor, listener](SensorConnectionStatus status) {
        gatewayQueue()->async([weak, sensor, listener, status] {
            auto self = weak.lock();
            if (!self) return;
            self->handleStatus(status, sensor, listener);
        });
    };
    relay_->bt()->connect(sensor, std::move(callback));
}

void Gateway::handleStatus(SensorConnectionStatus status, const std::shared_ptr<PelkSensor>& sensor,
                           const SensorListener& listener) {
    status_.store(status);
    auto report = [listener](PelkSensorState state) {
        if (!listener) return;
        DispatchQueue::main()->async([listener, state = std::move(state)] { listener(state); });
    };
    switch (status) {
        case SensorConnectionStatus::connected: {
            bool initialized = vehicle_->initializeVehicle();
            sensor->setIsIntialized(initialized);
            if (initialized) {
                Log::PublicInfo("Initialized sensor");
                report(PelkSensorState::onSensorConnected(PelkSensorStatus::initialized));
                PelkData::shared()->setInRecoveryMode(false);
            } else if (vehicle_->checkIfInRecoveryMode()) {
                Log::PublicError("Failed to initialize: Sensor is in recovery mode");
                report(PelkSensorState::onSensorConnected(PelkSensorStatus::recoveryMode));
            } else {
                Log::PublicError("Failed to initialize: Sensor failed to initialize");
                report(PelkSensorState::onSensorConnected(PelkSensorStatus::initializationFailed));
            }
            break;
        }
        case SensorConnectionStatus::disconnected:
            Log::PublicError("Sensor :" + sensor->description() + " disconnected");
            report(PelkSensorState::onSensorDisconnected());
            break;
        case SensorConnectionStatus::errorOpeningConnection:
            Log::PublicError("Error opening connection, could not open stream");
            report(PelkSensorState::onError(PelkError::general("Could not open stream", 99)));
            break;
    }
}

void Gateway::disconnect() {
    Log::PublicFuncCall({});
    Log::i("disconnecting");
    relay_->bt()->disconnect(true);
}

// MARK: versions and logs

std::string Gateway::libraryVersion() {
    Log::PublicFuncCall({});
    return qz::libraryVersion();
}

float Gateway::sensorVersion() {
    Log::PublicFuncCall({});
    return static_cast<float>(PelkData::shared()->sensorVersionNumber()) / 100.0f;
}

float Gateway::lastConnectedFwVersion() {
    Log::PublicFuncCall({});
    return sensorVersion();
}

std::string Gateway::currentVersionText() {
    return std::to_string(PelkData::shared()->sensorVersionNumber());
}

void Gateway::requestZippedLogs(LogsClosure closure) {
    Log::PublicFuncCall({"closure: " + describe(closure)});
    DispatchQueue::global()->async([closure = std::move(closure)] {
        std::optional<std::filesystem::path> url = Log::fileLogger()->combinedLog();
        DispatchQueue::main()->async([closure, url] {
            if (closure) closure(url);
        });
    });
}

// MARK: sensors in reach

std::vector<std::shared_ptr<PelkSensor>> Gateway::connectedDevices() {
    Log::PublicFuncCall({});
    std::vector<std::shared_ptr<PelkSensor>> sensors;
    const auto& controller = relay_->bt();
    if (auto mfi = controller->mfiController()) sensors = mfi->connectedSensors();
    if (auto le = controller->leController()) {
        auto seen = le->discoveredDevices();
        sensors.insert(sensors.end(), seen.begin(), seen.end());
    }
    return sensors;
}

void Gateway::registerForConnectionUpdates(BroadcastListener callback) {
    Log::PublicFuncCall({"callback: " + describe(callback)});
    relay_->bt()->setBroadcastListener(std::move(callback));
}

bool Gateway::activeSensorIsLe() const {
    auto active = relay_->bt()->activeSensor();
    return active && active->sensorType().isLe();
}

// MARK: lazy members

std::shared_ptr<MyPersistentContainer> Gateway::persistentContainer() {
    std::lock_guard lock(lazyMutex_);
    if (containerBuilt_) return persistentContainer_;
    containerBuilt_ = true;
    if (auto model = ManagedObjectModel::named("AnalyticsEvent")) {
        persistentContainer_ = std::make_shared<MyPersistentContainer>("AnalyticsEvent", *model);
        if (auto loaded = persistentContainer_->loadPersistentStores(); !loaded)
            Log::e("Could not load the analytics store: " + loaded.error().description());
    }
    return persistentContainer_;
}

std::optional<std::string> Gateway::vin() const {
    return vehicle_->currentVin();
}

}  // namespace qz
