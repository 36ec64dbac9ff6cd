#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "api/Communication/PelkSensor.hpp"
#include "api/Communication/SensorStatus.hpp"
#include "api/Communication/YMME.hpp"
#include "api/Delegates/AsTechDelegate.hpp"
#include "api/Delegates/PelkAccessoryDelegate.hpp"
#include "api/Delegates/PelkBaasDelegate.hpp"
#include "api/Delegates/PelkFirmwareDelegate.hpp"
#include "api/Delegates/PelkLiveDelegate.hpp"
#include "api/Delegates/PelkScanDelegate.hpp"
#include "api/Delegates/PelkSensorDelegate.hpp"
#include "api/Delegates/PelkSmogDelegate.hpp"
#include "api/Gateway/Binder.hpp"
#include "platform/DispatchQueue.hpp"

namespace qz {

class AnalyticsClient;
class MyPersistentContainer;
class PIDInterface;
class PelkWeb;
class Relay;
class SessionController;
class SkiffUpdater;
class Vehicle;

// The one object a host app creates and talks to. It builds and wires every long-lived
// part of the library, registers the facade's adapters with the trouble-code engine, and
// carries the public feature families.
//
// Threads: the connect listener, the log archive and the backend results are called on
// the main queue; all vehicle work runs on the process-wide serial queue "GatewayQueue".
// Nothing here blocks the main queue on "GatewayQueue".
//
// Held by std::shared_ptr (`create`): queued work holds it weakly, so work that arrives
// after the host released it is dropped.
class Gateway : public PelkSensorDelegate,
                public PelkAccessoryDelegate,
                public PelkFirmwareDelegate,
                public PelkBaasDelegate,
                public PelkLiveDelegate,
                public PelkScanDelegate,
                public PelkSmogDelegate,
                public AsTechDelegate,
                public std::enable_shared_from_this<Gateway> {
  public:
    static std::shared_ptr<Gateway> create();
    ~Gateway() override;
    Gateway(const Gateway&) = delete;
    Gateway& operator=(const Gateway&) = delete;

    // The serial queue "GatewayQueue" of every gateway's vehicle work.
    static std::shared_ptr<DispatchQueue> gatewayQueue();
    // Gateways alive in the process.
    static int gatewayCount();

    // PelkSensorDelegate.
    void connect(std::shared_ptr<PelkSensor> sensor, SensorListener listener) override;
    void disconnect() override;
    std::string libraryVersion() override;
    float sensorVersion() override;
    float lastConnectedFwVersion() override;
    void requestZippedLogs(LogsClosure closure) override;
    SensorConnectionStatus status() const override { return status_.load(); }
    void setStatus(SensorConnectionStatus status) { status_.store(status); }

    // PelkAccessoryDelegate.
    std::vector<std::shared_ptr<PelkSensor>> connectedDevices() override;
    void registerForConnectionUpdates(BroadcastListener callback) override;

    // PelkFirmwareDelegate.
    void requestLatestServerFirmware(VersionListener listener) override;
    void downloadFirmware(const std::string& versionKey, DownloadListener listener) override;
    void startFirmwareUpdate(UpdateListener listener) override;

    // PelkBaasDelegate.
    void requestXml(const std::string& vin, QZVehicleXmlType type,
                    XmlCompletion completion) override;
    void requestYmme(const std::string& vin, YmmeCompletion completion) override;
    void requestRepairInfo(const std::string& vin, const std::vector<std::string>& dtcs,
                           RepairListener listener) override;

    // PelkLiveDelegate.
    void updatePID(std::shared_ptr<PIDInfo> pid, PIDCallback callback) override;
    void supportedPids(PIDListCallback callback) override;
    std::vector<std::shared_ptr<PIDInfo>> pids() override;
    void requestOdometer(OdometerCallback callback) override;
    void checkAutoVinSupport(SupportCallback callback) override;
    void requestVin(VinCallback callback) override;

    // PelkScanDelegate.
    bool supportsEnhancedDiagnostics(const std::string& vin) override;
    void performScan(std::optional<std::string> vin, PelkScanType scanType,
                     ScanListener listener) override;
    void clearModule(std::shared_ptr<PelkModule> module, ClearListener listener) override;

    // PelkSmogDelegate.
    void requestSmogInfo(SmogListener listener) override;

    // AsTechDelegate.
    void switchToWiFiMode(WiFiCallback closure) override;
    void applyWiFiConfiguration(const WiFiConfiguration& config, WiFiCallback callback) override;

    // The VIN in use.
    std::optional<std::string> vin() const;

    // Parts shared with the feature families.
    bool isBusy() const { return isBusy_.load(); }
    void setIsBusy(bool value) { isBusy_.store(value); }
    // Sets the busy flag when it is clear; false when another operation holds it.
    bool tryBeginBusy() {
        bool expected = false;
        return isBusy_.compare_exchange_strong(expected, true);
    }

    Binder& binder() { return binder_; }
    const std::shared_ptr<PelkWeb>& api() const { return api_; }
    const std::shared_ptr<SessionController>& sessionController() const {
        return sessionController_;
    }
    const std::shared_ptr<Relay>& relay() const { return relay_; }
    const std::shared_ptr<Vehicle>& vehicle() const { return vehicle_; }
    const std::shared_ptr<PIDInterface>& pidInterface() const { return pidInterface_; }
    const std::shared_ptr<SkiffUpdater>& firmwareUpdater() const { return firmwareUpdater_; }
    SensorListener sensorListener() const;
    std::optional<YMME> ymme() const;
    void setYmme(std::optional<YMME> value);

    // Built once, on first read (nil when the store cannot be made).
    std::shared_ptr<MyPersistentContainer> persistentContainer();
    // Built once, on first read.
    std::shared_ptr<AnalyticsClient> analyticsClient();

    // Whether a session to a sensor is open (the last reported status is `connected`).
    bool isConnected() const { return status() == SensorConnectionStatus::connected; }

  private:
    Gateway();
    void bindData();
    // Handles one status of the session opened by the latest connect, on "GatewayQueue".
    void handleStatus(SensorConnectionStatus status, const std::shared_ptr<PelkSensor>& sensor,
                      const SensorListener& listener);
    // Asks the analytics client to re-send the events cached while the backend was away.
    void processCachedEvents();
    // The sensor version as the firmware server wants it (x100, decimal).
    static std::string currentVersionText();
    bool activeSensorIsLe() const;

    std::atomic<bool> isBusy_{false};
    Binder binder_;
    std::shared_ptr<PelkWeb> api_;
    std::shared_ptr<SessionController> sessionController_;
    std::shared_ptr<Vehicle> vehicle_;
    std::shared_ptr<PIDInterface> pidInterface_;
    std::shared_ptr<SkiffUpdater> firmwareUpdater_;
    std::shared_ptr<Relay> relay_;
    std::atomic<SensorConnectionStatus> status_{SensorConnectionStatus::disconnected};

    mutable std::mutex mutex_;  // guards the fields below; never held while calling out
    SensorListener sensorListener_;
    std::optional<YMME> ymme_;

    std::mutex lazyMutex_;  // guards the two lazily built members
    bool containerBuilt_ = false;
    std::shared_ptr<MyPersistentContainer> persistentContainer_;
    std::shared_ptr<AnalyticsClient> analyticsClient_;
};

}  // namespace qz
