#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "api/Communication/PelkSensor.hpp"
#include "api/Communication/SensorDelegate.hpp"
#include "api/Communication/SensorTextDecoder.hpp"
#include "api/Communication/SessionListeners.hpp"
#include "platform/NotificationCenter.hpp"
#include "platform/accessory/Accessory.hpp"
#include "platform/accessory/AccessorySession.hpp"
#include "platform/accessory/Stream.hpp"

namespace qz {

// The accessory protocol the sensor speaks.
inline constexpr const char* kSensorProtocol = "com.ostrel.obd.sensor";

// The sensor an accessory stands for, or null (logged) when it does not speak the sensor
// protocol. The identifier is the "macAddress" text reduced to digits and A-F; the name is
// "Ostrel " and its last four characters ("Ostrel" when the value is not text).
std::shared_ptr<PelkSensor> pelkSensor(const Accessory& accessory);

// The sensor session over an MFi accessory connection.
//
// Watches accessory connects and disconnects and reports sensor accessories to the
// broadcast listener (the firmware one first) on the main queue; opens an accessory session
// on the sensor protocol with its streams on the main run loop and reports `connected` when
// the output stream opens; writes commands scrambled and firmware data raw; reads every
// chunk, descrambles it (raw while a firmware acknowledgement is awaited) and hands it to
// the receiver on the main run loop.
//
// A write the output stream takes only partly keeps the rest and goes on when the stream
// has space again. All fields are guarded; listeners run without the lock.
class MFISessionController : public SensorDelegate,
                             public StreamDelegate,
                             public std::enable_shared_from_this<MFISessionController> {
  public:
    static std::shared_ptr<MFISessionController> create();
    ~MFISessionController() override;
    MFISessionController(const MFISessionController&) = delete;
    MFISessionController& operator=(const MFISessionController&) = delete;

    // Opens a session to the connected accessory with the sensor's connection id; a sensor
    // that is not connected reports `errorOpeningConnection`.
    void openSession(const std::shared_ptr<PelkSensor>& sensor, bool fwSession,
                     StatusListener listener);
    // Opens a session to `accessory` (closing any open one silently).
    void openSession(const std::shared_ptr<Accessory>& accessory, bool fwSession,
                     StatusListener listener);
    // Closes the open session; `notify` reports `disconnected` to the status listener.
    void closeSession(bool notify);
    // The connected sensor accessories, in the manager's order.
    std::vector<std::shared_ptr<PelkSensor>> connectedSensors();

    // SensorDelegate.
    void send(const std::string& cmd) override;
    void write(const Data& fwdata, bool useFwDelegate) override;
    void setReceiver(const std::shared_ptr<SensorReceiver>& receiver) override;
    // Whether a session is open (from openSession until closeSession).
    bool isLinkOpen() const override;

    // StreamDelegate.
    void stream(const std::shared_ptr<Stream>& stream, StreamEvent event) override;

    // Accessory notifications.
    void accessoryDidConnect(const Notification& notification);
    void accessoryDidDisconnect(const Notification& notification);

    std::shared_ptr<AccessorySession> session() const;
    bool fwSession() const;
    std::optional<std::string> currentMac() const;
    bool awaitingFwResponse() const;

    StatusListener statusListener() const;
    StatusListener firmwareStatusListener() const;
    void setFirmwareStatusListener(StatusListener listener);
    BroadcastListener broadcastListener() const;
    void setBroadcastListener(BroadcastListener listener);
    BroadcastListener firmwareBroadcastListener() const;
    void setFirmwareBroadcastListener(BroadcastListener listener);
    bool autoReconnect() const;
    void setAutoReconnect(bool value);

  private:
    MFISessionController();
    void setup();
    void setSessionLocked(std::shared_ptr<AccessorySession> session);
    void flushLocked(const std::shared_ptr<OutputStream>& out);
    void readToBuffer(const std::shared_ptr<Stream>& stream);
    void notifyConnectionEvent(std::shared_ptr<PelkSensor> sensor, BroadcastStatus status);

    ObserverToken connectToken_ = 0;
    ObserverToken disconnectToken_ = 0;

    mutable std::mutex mutex_;
    std::shared_ptr<AccessorySession> session_;
    bool fwSession_ = false;
    std::optional<std::string> currentMac_;
    StatusListener statusListener_;
    StatusListener firmwareStatusListener_;
    BroadcastListener broadcastListener_;
    BroadcastListener firmwareBroadcastListener_;
    bool awaitingFwResponse_ = false;
    std::weak_ptr<SensorReceiver> receiver_;
    bool autoReconnect_ = false;
    std::shared_ptr<Accessory> lastSensorToDisconnect_;
    std::shared_ptr<RunLoop> activeRunLoop_;
    Data pendingWrite_;  // bytes the output stream has not taken yet
    SensorTextDecoder decoder_;
};

}  // namespace qz
