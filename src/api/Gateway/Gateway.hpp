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

// The one object a host app creates and talks to: it finds and connects sensors, reads live
// data, scans and clears trouble codes, runs the smog check, hands over the logs and talks to
// the maker's backend. The contract of each operation is in the protocol that declares it
// (api/Delegates/). Create one per app and keep it; a second one is allowed but only logged,
// and takes over the trouble-code engine from the first.
//
// Threads: every call returns at once. Vehicle work runs, one operation at a time, on the
// process-wide serial queue "GatewayQueue"; connection states, the log archive and backend
// results reach the app on the library's main queue (a thread of its own). Listeners may call
// the gateway again but must not block waiting for it.
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
    // A new gateway: loads the host's configuration document, registers with the trouble-code
    // engine and asks the analytics client to send the events it cached. Bluetooth scanning
    // starts as soon as the adapter is powered.
    static std::shared_ptr<Gateway> create();
    // Stops the connection reports; a Bluetooth LE link ends with the gateway, unreported. Call
    // disconnect() first to close a session cleanly.
    ~Gateway() override;
    Gateway(const Gateway&) = delete;
    Gateway& operator=(const Gateway&) = delete;

    // The serial queue "GatewayQueue" of every gateway's vehicle work.
    static std::shared_ptr<DispatchQueue> gatewayQueue();
    // Gateways alive in the process.
    static int gatewayCount();

    // PelkSensorDelegate (connecting, versions, status, log archive).
    void connect(std::shared_ptr<PelkSensor> sensor, SensorListener listener) override;
    void disconnect() override;
    std::string libraryVersion() override;
    float sensorVersion() override;
    float lastConnectedFwVersion() override;
    void requestZippedLogs(LogsClosure closure) override;
    SensorConnectionStatus status() const override { return status_.load(); }
    // Overrides the reported status (the library sets it from each session report).
    void setStatus(SensorConnectionStatus status) { status_.store(status); }

    // PelkAccessoryDelegate (the sensors in reach).
    std::vector<std::shared_ptr<PelkSensor>> connectedDevices() override;
    void registerForConnectionUpdates(BroadcastListener callback) override;

    // PelkFirmwareDelegate (the sensor's firmware; MFi sensors only).
    void requestLatestServerFirmware(VersionListener listener) override;
    void downloadFirmware(const std::string& versionKey, DownloadListener listener) override;
    void startFirmwareUpdate(UpdateListener listener) override;

    // PelkBaasDelegate (backend and offline VIN database; results on the main queue).
    void requestXml(const std::string& vin, QZVehicleXmlType type,
                    XmlCompletion completion) override;
    void requestYmme(const std::string& vin, YmmeCompletion completion) override;
    void requestRepairInfo(const std::string& vin, const std::vector<std::string>& dtcs,
                           RepairListener listener) override;

    // PelkLiveDelegate (live data, odometer, VIN).
    void updatePID(std::shared_ptr<PIDInfo> pid, PIDCallback callback) override;
    void supportedPids(PIDListCallback callback) override;
    std::vector<std::shared_ptr<PIDInfo>> pids() override;
    void requestOdometer(OdometerCallback callback) override;
    void checkAutoVinSupport(SupportCallback callback) override;
    void requestVin(VinCallback callback) override;

    // PelkScanDelegate (trouble-code scans and clears).
    bool supportsEnhancedDiagnostics(const std::string& vin) override;
    void performScan(std::optional<std::string> vin, PelkScanType scanType,
                     ScanListener listener) override;
    void clearModule(std::shared_ptr<PelkModule> module, ClearListener listener) override;

    // PelkSmogDelegate (the emissions-readiness check).
    void requestSmogInfo(SmogListener listener) override;

    // AsTechDelegate (the sensor's Wi-Fi mode and configuration).
    void switchToWiFiMode(WiFiCallback closure) override;
    void applyWiFiConfiguration(const WiFiConfiguration& config, WiFiCallback callback) override;

    // The VIN of the last scan or supportsEnhancedDiagnostics call; none before.
    std::optional<std::string> vin() const;

    // The parts below are the library's own: its feature families share them. An app needs
    // none of them.

    // Whether an operation that talks to the vehicle holds the gateway (scans, clears, smog
    // checks and live reads refuse with their busy error meanwhile).
    bool isBusy() const { return isBusy_.load(); }
    void setIsBusy(bool value) { isBusy_.store(value); }
    // Sets the busy flag when it is clear; false when another operation holds it.
    bool tryBeginBusy() {
        bool expected = false;
        return isBusy_.compare_exchange_strong(expected, true);
    }

    // The engine's adapter registry and the long-lived parts built by create().
    Binder& binder() { return binder_; }
    const std::shared_ptr<PelkWeb>& api() const { return api_; }
    const std::shared_ptr<SessionController>& sessionController() const {
        return sessionController_;
    }
    const std::shared_ptr<Relay>& relay() const { return relay_; }
    const std::shared_ptr<Vehicle>& vehicle() const { return vehicle_; }
    const std::shared_ptr<PIDInterface>& pidInterface() const { return pidInterface_; }
    const std::shared_ptr<SkiffUpdater>& firmwareUpdater() const { return firmwareUpdater_; }
    // The listener of the latest connect.
    SensorListener sensorListener() const;
    // Year, make, model and engine of the current vehicle, as the scan family keeps them.
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
