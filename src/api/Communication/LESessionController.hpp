#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "api/Communication/PelkSensor.hpp"
#include "api/Communication/SensorTextDecoder.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/Communication/SessionListeners.hpp"
#include "bgx/BGXDelegates.hpp"
#include "bgx/BGXDevice.hpp"
#include "bgx/BGXScanner.hpp"

namespace qz {

// The sensor handle of a BGX device: its name ("" when it has none), `le` with its identifier.
std::shared_ptr<PelkSensor> pelkSensor(const BGXDevice& device);

// The driver-facing half of the BLE session: the scanner's delegate and the delegate of each
// device it connects. It lists every device the scanner reports (entries are never removed,
// duplicates stay), reports each to the broadcast listener as `appeared`, starts scanning when
// Bluetooth is powered on, connects by peripheral identifier, turns the current device's state
// changes into status reports on "GatewayQueue", and turns each received chunk into
// descrambled text for the receiver.
//
// Status reports: the state is read when the change happens; each change of the current
// device's state is reported once (`Connected`: connected; `Disconnected`: disconnected and
// "DeviceDisconnected", or `errorOpeningConnection` alone when the connect failed with an
// error before the link opened, such as a refused subscription); changes of other devices are
// not reported.
//
// Received chunks: only the current device's; descrambled byte by byte, a character cut
// between two notifications is joined, bytes that are no UTF-8 become U+FFFD (logged "Could
// not read from stream"), and the rest of the chunk, its prompt above all, goes on. A device a
// later connect replaced keeps its link but no longer calls the bridge. A connect request for
// the current device while its link is still closing waits for that link's end, which goes to
// the listener of the link that ends.
class LESessionObjcBridge : public BGXScanDelegate,
                            public BGXDeviceDelegate,
                            public BGXSerialDelegate,
                            public std::enable_shared_from_this<LESessionObjcBridge> {
  public:
    // A bridge over a new scanner (its central from the installed factory).
    static std::shared_ptr<LESessionObjcBridge> create();

    // Connects to the device the scanner tracks for `identifier` (else the latest listed one,
    // handed back to the scanner). An identifier never discovered reports
    // `errorOpeningConnection`.
    void connectToDevice(const UUID& identifier, StatusListener listener);
    // Drops a connect request that waits for the end of a closing link; its listener hears
    // `disconnected`.
    void cancelDeferredConnect();

    BroadcastListener broadcastListener() const;
    void setBroadcastListener(BroadcastListener listener);
    StatusListener connectionListener() const;
    std::shared_ptr<SensorReceiver> receiver() const;
    void setReceiver(const std::shared_ptr<SensorReceiver>& receiver);
    // The device of the last connect request that found its identifier.
    std::shared_ptr<BGXDevice> device() const;
    const std::shared_ptr<BGXScanner>& bgxDeviceScanner() const { return bgxDeviceScanner_; }
    std::vector<std::shared_ptr<BGXDevice>> discoveredDevices() const;

    // BGXScanDelegate.
    void bluetoothStateChanged(int state) override;
    void deviceDiscovered(const std::shared_ptr<BGXDevice>& device) override;
    void scanStateChanged(ScanState state) override;
    // BGXDeviceDelegate.
    void stateChangedForDevice(const std::shared_ptr<BGXDevice>& device) override;
    void notifyForDisconnectionError(const BleError& error) override;
    // BGXSerialDelegate.
    void busModeChanged(BusMode, const std::shared_ptr<BGXDevice>&) override {}
    void dataRead(const Data& data, const std::shared_ptr<BGXDevice>& device) override;
    void dataWrittenForDevice(const std::shared_ptr<BGXDevice>&) override {}

  private:
    LESessionObjcBridge();
    void connectOnDriverQueue(const UUID& identifier, StatusListener listener);

    std::shared_ptr<BGXScanner> bgxDeviceScanner_;  // set once by `create`

    mutable std::mutex mutex_;
    BroadcastListener broadcastListener_;
    StatusListener connectionListener_;
    std::weak_ptr<SensorReceiver> receiver_;
    std::shared_ptr<BGXDevice> device_;
    std::optional<DeviceState> reportedState_;  // the current device's last state seen
    // A connect request for the current device made while its link was closing: it starts
    // once that link's end is reported.
    std::optional<StatusListener> deferredListener_;
    bool opened_ = false;      // the current connect was reported `connected`
    bool openFailed_ = false;  // the current connect ended in an error before it opened
    std::vector<std::shared_ptr<BGXDevice>> discoveredDevices_;
    SensorTextDecoder decoder_;
};

// The BLE session: the session controller's SensorDelegate for a BLE sensor. Commands go to
// the current device scrambled byte by byte, firmware data raw, both in call order on the
// driver's serial queue (the main queue): a command is handed to the link when its turn comes
// there. The result of the driver's write is not looked at (the relay's time-out covers a
// refused one). Scanning starts by itself once Bluetooth is powered on.
class LESessionController : public LESessionLink,
                            public std::enable_shared_from_this<LESessionController> {
  public:
    static std::shared_ptr<LESessionController> create();

    const std::shared_ptr<LESessionObjcBridge>& controller() const { return controller_; }

    // SensorDelegate.
    void send(const std::string& cmd) override;
    void handOver(const std::string& cmd, const Handing& handing) override;
    void write(const Data& fwdata, bool useFwDelegate) override;
    void setReceiver(const std::shared_ptr<SensorReceiver>& receiver) override;
    // Whether there is a current device whose link has not closed.
    bool isLinkOpen() const override;

    // LESessionLink.
    void connectToDevice(const UUID& uuid, StatusListener listener) override;
    void disconnectDevice() override;
    void setBroadcastListener(BroadcastListener listener) override;
    std::vector<std::shared_ptr<PelkSensor>> discoveredDevices() const override;

    // Connects a sensor of type `le`; does nothing for any other.
    void connect(const std::shared_ptr<PelkSensor>& sensor, StatusListener listener);
    // Drops the current device's link; `notify` has no effect on BLE.
    void disconnect(bool notify);
    BroadcastListener broadcastListener() const;
    std::shared_ptr<SensorReceiver> receiver() const;

  private:
    LESessionController();
    // Hands `bytes` to the current device on the driver's queue, once `handing` (when given)
    // agrees there.
    void transmit(Data bytes, Handing handing = {});

    const std::shared_ptr<LESessionObjcBridge> controller_;
    mutable std::mutex mutex_;
    BroadcastListener broadcastListener_;
    std::weak_ptr<SensorReceiver> receiver_;
};

}  // namespace qz
