#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "bgx/BGXDelegates.hpp"
#include "bgx/BGXTypes.hpp"
#include "platform/DispatchQueue.hpp"
#include "platform/NotificationCenter.hpp"
#include "platform/Timer.hpp"
#include "platform/ble/BleCentral.hpp"

namespace qz {

class BGXScanner;

// One BGX13 module: connects, interrogates the peripheral (services, characteristics, device
// information, bus mode), sends byte streams in chunks, runs the module's fast-acknowledgement
// credit in both directions, hands each received chunk to its serial delegate, polls the
// signal strength and reports its state changes.
//
// A connection reaches `Connected` once the services, the characteristics, the model number
// and a first bus mode value other than the stored one have arrived; until then (at most 30
// seconds of the installed clock) the connection timer runs.
//
// Threads: everything happens on the scanner's queue (the central's callbacks, the timers, the
// queued credit returns). The public calls may come from any thread: the ones that act run on
// that queue (waiting for it), the accessors read guarded copies. Delegates are called on the
// queue without any lock held.
class BGXDevice : public BlePeripheralDelegate, public std::enable_shared_from_this<BGXDevice> {
  public:
    using BusModeCompletion =
        std::function<void(const std::shared_ptr<BGXDevice>&, const std::optional<BleError>&)>;

    // Seconds `connect` waits for `Connected`.
    static constexpr double kConnectionTimeout = 30.0;
    // Seconds between signal strength reads.
    static constexpr double kRSSIInterval = 15.0;

    // Made by the scanner only; the device becomes the peripheral's delegate. Null when the
    // peripheral or the scanner is missing.
    static std::shared_ptr<BGXDevice> deviceWithCBPeripheral(
        const std::shared_ptr<BlePeripheral>& peripheral, const BleAdvertisement& advertisementData,
        int rssi, const std::shared_ptr<BGXScanner>& scanner);
    ~BGXDevice() override;
    BGXDevice(const BGXDevice&) = delete;
    BGXDevice& operator=(const BGXDevice&) = delete;

    // Connection. `connect` starts an attempt (`Connecting`; any unfinished write is dropped)
    // and always returns true; its outcome comes as state changes: `Connected`, or
    // `Disconnected` after `connectionTimeoutForDevice` (refused, or 30 seconds passed).
    bool connect();
    // Closes the link or abandons the attempt (`Disconnecting`, then `Disconnected` when the
    // central reports it); false when already `Disconnected` or `Disconnecting`.
    bool disconnect();
    // The scanner's reports of the central's events, on the driver's queue.
    void deviceDidConnect();
    void deviceDidFailToConnect();
    void deviceDidDisconnect();
    // Disconnects, logs the error, tells the device delegate (`notifyForDisconnectionError`)
    // and posts "Error" (object: an attribute error, code 1) on the default centre.
    void disconnectWithError(const BleError& error);

    // Identity. The peripheral's identifier, stable for the peripheral.
    UUID identifier() const { return identifier_; }
    // The peripheral's name, else the advertised local name.
    std::optional<std::string> name() const;
    // "<name> rssi=<n> id=<UUID> DeviceState=<state>"
    std::string description() const;
    // The central's peripheral behind the device.
    const std::shared_ptr<BlePeripheral>& peripheral() const { return peripheral_; }
    // The unique-id characteristic's bytes as upper-case hex, or none.
    std::optional<std::string> device_unique_id() const;

    // Data. `writeData` takes the bytes only while `Connected` with no write pending (false
    // otherwise, and nothing is sent); they go out in chunks of at most the write length and,
    // with fast acknowledgement, the module's credit (a write waits for credit), and
    // `dataWrittenForDevice` follows the last one. A chunk the central fails is logged and the
    // rest of that write dropped, so the next write may go.
    bool writeData(const Data& data);
    // The text's UTF-8 bytes through `writeData`.
    bool writeString(const std::string& text);
    // Sends "<command> <args>\r\n".
    bool sendCommand(const std::string& command, const std::string& args);
    // `Connected`, and with fast acknowledgement at least one byte of credit.
    bool canWrite() const;

    // Bus mode. `readBusMode` asks for the value (it arrives as `busModeChanged` when it
    // differs); false unless `Connected`. `writeBusMode` writes a mode other than the current
    // one, with response, while `Connected`; false when nothing was written. The new value
    // arrives as a notification.
    bool readBusMode();
    bool writeBusMode(BusMode mode);
    // The handler is called with the device and the write's error once the write completes;
    // only when the mode is written (connected, and a mode other than the current one).
    bool writeBusMode(BusMode mode, const std::optional<std::string>& password,
                      BusModeCompletion completionHandler);

    // Delegates, held weakly; called on the driver's queue with no lock held.
    std::shared_ptr<BGXDeviceDelegate> deviceDelegate() const;
    void setDeviceDelegate(const std::shared_ptr<BGXDeviceDelegate>& delegate);
    std::shared_ptr<BGXSerialDelegate> serialDelegate() const;
    void setSerialDelegate(const std::shared_ptr<BGXSerialDelegate>& delegate);

    // State, read from any thread. `rssi`: the last signal strength (polled every 15 seconds
    // while connected or interrogating); `busMode`: 0 until the first value; the device
    // information once read; `fastAck`: decided by each interrogation (the module's RX
    // characteristic notifies).
    int rssi() const;
    DeviceState deviceState() const;
    BusMode busMode() const;
    std::optional<std::string> modelNumber() const;
    std::optional<std::string> firmwareRevision() const;
    std::optional<std::string> bootloaderVersion() const;
    bool fastAck() const;
    // NO whenever fast acknowledgement is on.
    bool writeWithResponse() const;
    void setWriteWithResponse(bool value);
    // Posts "deviceState", "busMode" and "rssi" (object: this device) after each change.
    NotificationCenter& observers() { return observers_; }

    // "Interrogating", "Disconnected", "Connecting", "Connected", "Disconnecting", else "?".
    static std::string nameForDeviceState(uint64_t state);

    // BlePeripheralDelegate: the central's answers, on the driver's queue. Errors while
    // interrogating, a refused subscription of the stream or bus mode characteristics, and a
    // failed value read close the link through `disconnectWithError`; answers that arrive
    // once the link is closing or closed are only logged.
    void didDiscoverServices(const std::shared_ptr<BlePeripheral>& peripheral,
                             const std::vector<BleService>& services,
                             const std::optional<BleError>& error) override;
    void didDiscoverCharacteristicsForService(const std::shared_ptr<BlePeripheral>& peripheral,
                                              const BleService& service,
                                              const std::vector<BleCharacteristic>& characteristics,
                                              const std::optional<BleError>& error) override;
    void didUpdateValueForCharacteristic(const std::shared_ptr<BlePeripheral>& peripheral,
                                         const BleCharacteristic& characteristic, const Data& value,
                                         const std::optional<BleError>& error) override;
    void didWriteValueForCharacteristic(const std::shared_ptr<BlePeripheral>& peripheral,
                                        const BleCharacteristic& characteristic,
                                        const std::optional<BleError>& error) override;
    void peripheralIsReadyToSendWriteWithoutResponse(
        const std::shared_ptr<BlePeripheral>& peripheral) override;
    void didUpdateNotificationStateForCharacteristic(
        const std::shared_ptr<BlePeripheral>& peripheral, const BleCharacteristic& characteristic,
        const std::optional<BleError>& error) override;
    void didReadRSSI(const std::shared_ptr<BlePeripheral>& peripheral, int rssi,
                     const std::optional<BleError>& error) override;

    // Test and benchmark access to the credit counters.
    int64_t fastAckRxBytes() const;
    int64_t fastAckTxBytes() const;

  private:
    BGXDevice(std::shared_ptr<BlePeripheral> peripheral, const BleAdvertisement& advertisement,
              int rssi, const std::shared_ptr<BGXScanner>& scanner);

    // Runs `work` on the driver's queue and returns its result.
    template <class F>
    auto onQueue(F&& work) -> decltype(work());

    void changeDeviceState(DeviceState state);
    // Puts `timer` in the slot and stops the one it held.
    void replaceTimer(std::shared_ptr<Timer> BGXDevice::*slot, std::shared_ptr<Timer> timer);
    void stopConnectionTimer();
    void stopTimers();
    // Under the device lock.
    void forgetCharacteristics();
    void writeChunkOfData();
    void finishChunk();
    void dropPendingWrite(const char* why);
    void sendFastAck(FastAckMessage message);
    void busModeValue(const Data& value);
    void modelNumberValue(const Data& value);
    void firmwareRevisionValue(const Data& value);
    void streamValue(const Data& value);
    void fastAckValue(const Data& value);
    void deviceUniqueIdValue(const Data& value);
    void announce(const char* key);
    bool is(const std::optional<BleCharacteristic>& stored, const BleCharacteristic& c) const;
    std::string peripheralName() const;

    const std::shared_ptr<BlePeripheral> peripheral_;
    const UUID identifier_;
    const std::optional<std::string> device_name_;
    const std::weak_ptr<BGXScanner> scanner_;
    const std::shared_ptr<DispatchQueue> queue_;
    NotificationCenter observers_;

    // Guards every field below. Never held while calling a delegate, the central or the
    // peripheral.
    mutable std::mutex mutex_;
    DeviceState deviceState_ = DeviceState::Disconnected;
    BusMode busMode_ = 0;
    bool writeWithResponse_ = true;
    int rssi_ = 0;
    std::shared_ptr<Timer> connectionTimer_;
    std::shared_ptr<Timer> rssiTimer_;
    std::optional<BleCharacteristic> perRXchar_, perTXchar_, modeChar_;
    std::optional<BleCharacteristic> firRevStrChar_, modelNumberChar_, deviceUniqueIdenChar_;
    std::optional<Data> deviceUniqueIdValue_;
    std::optional<Data> dataToWrite_;
    uint64_t rangeLocation_ = 0;
    uint64_t rangeLength_ = 0;
    uint64_t dataWriteSize_ = 0;
    // A chunk of `dataToWrite_` is with the peripheral and not yet completed.
    bool chunkInFlight_ = false;
    bool chunkWithoutResponse_ = false;
    // The writes without response still to be answered, oldest first: true for a data chunk,
    // false for a credit message. Each ready-to-send answers the oldest.
    std::deque<bool> unansweredWrites_;
    bool fastAck_ = false;
    int64_t fastAckRxBytes_ = 0;
    int64_t fastAckTxBytes_ = 0;
    std::deque<BusModeCompletion> mBusModeCompletionHandlers_;
    std::weak_ptr<BGXDeviceDelegate> deviceDelegate_;
    std::weak_ptr<BGXSerialDelegate> serialDelegate_;
    std::optional<std::string> modelNumber_, firmwareRevision_, bootloaderVersion_;
};

}  // namespace qz
