#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "api/Communication/PelkSensor.hpp"
#include "api/Communication/SensorDelegate.hpp"
#include "api/Communication/SensorStatus.hpp"
#include "api/Communication/SessionListeners.hpp"
#include "platform/DispatchQueue.hpp"
#include "platform/NotificationCenter.hpp"
#include "platform/UUID.hpp"

namespace qz {

class MFISessionController;

// What the session controller needs of the Bluetooth LE session: a SensorDelegate that
// connects to a discovered peripheral by identifier, drops the link of its connected
// device, and takes the broadcast listener (for itself and its bridge).
class LESessionLink : public SensorDelegate {
  public:
    // Connects to the discovered device with `uuid`; status goes to `listener`.
    virtual void connectToDevice(const UUID& uuid, StatusListener listener) = 0;
    // Drops the link of the connected device, if there is one.
    virtual void disconnectDevice() = 0;
    // The app's appear/disappear listener, for the session and its bridge.
    virtual void setBroadcastListener(BroadcastListener listener) = 0;
    // The sensors seen so far, in discovery order.
    virtual std::vector<std::shared_ptr<PelkSensor>> discoveredDevices() const { return {}; }
};

// The one place that knows which transport carries the current sensor. It opens the MFi
// session or the BLE session for the chosen sensor, forwards the relay's commands to the
// current one (dropping them when there is none, so the relay times out), hands the relay
// on as receiver whenever the session changes, spreads the broadcast listener to both
// sessions and disconnects when the relay posts "DeviceTimedOut".
//
// Both sessions are built with the controller; `setLESession` replaces the BLE one. Without a
// BLE session, connecting to a BLE sensor reports `errorOpeningConnection` and opens nothing.
class SessionController : public SensorDelegate,
                          public std::enable_shared_from_this<SessionController> {
  public:
    // A controller with a new MFi session and a new BLE session; observes "DeviceTimedOut".
    static std::shared_ptr<SessionController> create();
    ~SessionController() override;
    SessionController(const SessionController&) = delete;
    SessionController& operator=(const SessionController&) = delete;

    // Opens a connection to `sensor`; posts "DeviceConnectStarted" first.
    void connect(std::shared_ptr<PelkSensor> sensor, StatusListener listener);
    // Closes the current connection (MFi: reports `disconnected` when `notify`).
    void disconnect(bool notify);
    // Opens an MFi session for firmware work; the active sensor decides the transport.
    void openSession(std::shared_ptr<PelkSensor> sensor, bool fwSession, StatusListener listener);

    // The identity text of the active sensor.
    std::optional<std::string> currentMac() const;

    // SensorDelegate, forwarded to the current session.
    void send(const std::string& cmd) override;
    void handOver(const std::string& cmd, const Handing& handing) override;
    void write(const Data& fwdata, bool useFwDelegate) override;
    void setReceiver(const std::shared_ptr<SensorReceiver>& receiver) override;
    // The current session's link; true without a session (commands are then dropped, and the
    // relay times out).
    bool isLinkOpen() const override;

    // "DeviceTimedOut": the sensor stopped answering.
    void timedOut();

    const std::shared_ptr<MFISessionController>& mfiController() const { return mfiController_; }
    std::shared_ptr<LESessionLink> leController() const;
    // Plugs in the BLE session (it receives the current broadcast listener).
    void setLESession(std::shared_ptr<LESessionLink> session);

    std::shared_ptr<PelkSensor> activeSensor() const;
    std::shared_ptr<SensorDelegate> sensorDelegate() const;

    BroadcastListener broadcastListener() const;
    // Also copied into both sessions (an empty listener clears theirs).
    void setBroadcastListener(BroadcastListener listener);

    // Slots used by the firmware updater.
    StatusListener statusListener() const;
    void setStatusListener(StatusListener listener);
    StatusListener firmwareStatusListener() const;
    void setFirmwareStatusListener(StatusListener listener);
    BroadcastListener firmwareBroadcastListener() const;
    void setFirmwareBroadcastListener(BroadcastListener listener);
    bool autoReconnect() const;
    void setAutoReconnect(bool value);

    // The concurrent queue "BtCommunicationQueue" on which the BLE session writes.
    static std::shared_ptr<DispatchQueue> btQueue();

  private:
    SessionController();
    void setSensorDelegate(std::shared_ptr<SensorDelegate> delegate);

    std::shared_ptr<MFISessionController> mfiController_;
    ObserverToken timedOutToken_ = 0;

    mutable std::mutex mutex_;
    std::shared_ptr<LESessionLink> leController_;
    std::shared_ptr<SensorDelegate> sensorDelegate_;
    std::shared_ptr<PelkSensor> activeSensor_;
    std::weak_ptr<SensorReceiver> sensorReceiver_;
    StatusListener statusListener_;
    StatusListener firmwareStatusListener_;
    BroadcastListener broadcastListener_;
    BroadcastListener firmwareBroadcastListener_;
    bool autoReconnect_ = false;
};

}  // namespace qz
