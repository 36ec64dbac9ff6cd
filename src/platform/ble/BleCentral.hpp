#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/DispatchQueue.hpp"
#include "platform/Result.hpp"
#include "platform/UUID.hpp"

// The Bluetooth LE central: the one seam between the BGX13 driver and a Bluetooth stack.
// It offers only what the driver needs: the power state, a scan filtered by service, connect
// and cancel, service and characteristic discovery, read, write with and without response,
// notifications on and off, the ready-to-send signal, the maximum write length and the signal
// strength. Two implementations: BlueZ over D-Bus (`BlueZCentral.hpp`) and the simulated
// central of the tests (`sim/`).
//
// Threads: every delegate callback of a central and of its peripherals runs on the queue the
// central was made with, one at a time and in the order the events happened. Calls into a
// central or peripheral may come from any thread; none of them blocks on the radio or calls a
// delegate before it returns (results always arrive later, through the delegate).

namespace qz {

// The central's state; the values are the platform's (5 is powered on).
enum class BleManagerState : int {
    unknown = 0,
    resetting = 1,
    unsupported = 2,
    unauthorized = 3,
    poweredOff = 4,
    poweredOn = 5,
};

// Characteristic property bits, as the platform numbers them.
namespace BleProperty {
inline constexpr uint32_t broadcast = 0x01;
inline constexpr uint32_t read = 0x02;
inline constexpr uint32_t writeWithoutResponse = 0x04;
inline constexpr uint32_t write = 0x08;
inline constexpr uint32_t notify = 0x10;
inline constexpr uint32_t indicate = 0x20;
}  // namespace BleProperty

enum class BleWriteType { withResponse, withoutResponse };

// An error a central reports: its domain (a backend's error namespace), a code within it and
// a text for people.
struct BleError {
    std::string domain;
    int code = 0;
    std::string description;

    // The attribute-protocol domain of the platform, and its code 1 (the driver's own error).
    static constexpr const char* kATTErrorDomain = "CBATTErrorDomain";
    static BleError att(int code = 1);
    std::string localizedDescription() const { return description; }
    // The platform's full text of the error:
    // Error Domain=<domain> Code=<code> "<text>" UserInfo={NSLocalizedDescription=<text>}
    std::string errorDescription() const;
};

// GATT identifiers are compared as lower-case 128-bit texts; a 16-bit identifier ("180A")
// stands for its expansion on the Bluetooth base UUID.
std::string normalizedBleUUID(const std::string& text);
// The platform's text of an identifier, as log lines show it: upper case, and a 16- or 32-bit
// identifier on the Bluetooth base UUID by its short form ("180A").
std::string bleUUIDText(const std::string& uuid);

// A service of a connected peripheral, as discovered. `key` is the backend's own handle.
struct BleService {
    std::string uuid;  // normalised
    std::string key;
};

// A characteristic of a discovered service. Two values stand for the same characteristic
// when their keys are equal.
struct BleCharacteristic {
    std::string uuid;  // normalised
    uint32_t properties = 0;
    std::string serviceUuid;
    std::string key;
    bool has(uint32_t property) const { return (properties & property) != 0; }
    bool operator==(const BleCharacteristic& other) const { return key == other.key; }
};

// What a peripheral advertised.
struct BleAdvertisement {
    std::optional<std::string> localName;
    std::vector<std::string> serviceUuids;  // normalised
};

class BlePeripheral;

// Receives a peripheral's results. Every request of the driver is answered by exactly one
// callback, except where noted.
class BlePeripheralDelegate {
  public:
    virtual ~BlePeripheralDelegate() = default;
    // `discoverServices`: every service of the peripheral, or an error.
    virtual void didDiscoverServices(const std::shared_ptr<BlePeripheral>& peripheral,
                                     const std::vector<BleService>& services,
                                     const std::optional<BleError>& error) = 0;
    // `discoverCharacteristics`: every characteristic of `service`, or an error.
    virtual void didDiscoverCharacteristicsForService(
        const std::shared_ptr<BlePeripheral>& peripheral, const BleService& service,
        const std::vector<BleCharacteristic>& characteristics,
        const std::optional<BleError>& error) = 0;
    // A value: the answer to `readValue`, or one notification of a subscribed characteristic
    // (one call per notification, in arrival order), or the error of a read.
    virtual void didUpdateValueForCharacteristic(const std::shared_ptr<BlePeripheral>& peripheral,
                                                 const BleCharacteristic& characteristic,
                                                 const Data& value,
                                                 const std::optional<BleError>& error) = 0;
    // A write with response completed (acknowledged, or failed with `error`); also a write
    // without response that failed. A write without response that succeeded is answered by
    // `peripheralIsReadyToSendWriteWithoutResponse` instead.
    virtual void didWriteValueForCharacteristic(const std::shared_ptr<BlePeripheral>& peripheral,
                                                const BleCharacteristic& characteristic,
                                                const std::optional<BleError>& error) = 0;
    // The central took a write without response and can take the next one: exactly one call
    // per successful write without response.
    virtual void peripheralIsReadyToSendWriteWithoutResponse(
        const std::shared_ptr<BlePeripheral>& peripheral) = 0;
    // `setNotifyValue`: the subscription is in place (or left), or it was refused with `error`.
    virtual void didUpdateNotificationStateForCharacteristic(
        const std::shared_ptr<BlePeripheral>& peripheral, const BleCharacteristic& characteristic,
        const std::optional<BleError>& error) = 0;
    // `readRSSI`: the signal strength in dBm, or an error.
    virtual void didReadRSSI(const std::shared_ptr<BlePeripheral>& peripheral, int rssi,
                             const std::optional<BleError>& error) = 0;
};

// A remote peripheral known to a central. The object stays the same for one peripheral for
// the life of its central, across disconnects and rescans. The requests below are valid while
// the peripheral is connected; made while it is not, they are ignored (no callback), and those
// still open when the link closes are never answered: `didDisconnectPeripheral` ends them all.
class BlePeripheral {
  public:
    virtual ~BlePeripheral() = default;

    // Stable for the peripheral (the BlueZ backend derives it from the device address).
    virtual UUID identifier() const = 0;
    // The peripheral's own name, when it has one.
    virtual std::optional<std::string> name() const = 0;
    // Held weakly; callbacks go to the central's queue.
    virtual void setDelegate(std::weak_ptr<BlePeripheralDelegate> delegate) = 0;

    virtual void discoverServices() = 0;
    virtual void discoverCharacteristics(const BleService& service) = 0;
    virtual void readValue(const BleCharacteristic& characteristic) = 0;
    // Writes are sent in call order. See the delegate for how each kind completes.
    virtual void writeValue(const Data& value, const BleCharacteristic& characteristic,
                            BleWriteType type) = 0;
    // Subscribes to (or leaves) the characteristic's notifications; answered by
    // `didUpdateNotificationStateForCharacteristic`.
    virtual void setNotifyValue(bool enabled, const BleCharacteristic& characteristic) = 0;
    virtual void readRSSI() = 0;
    // The largest value one write of `type` carries (the link's MTU less 3).
    virtual size_t maximumWriteValueLength(BleWriteType type) const = 0;

    // "<name> (<identifier>)", for log lines.
    std::string description() const;
};

// Receives a central's events.
class BleCentralDelegate {
  public:
    virtual ~BleCentralDelegate() = default;
    // The state changed; also called once, soon after the central is made, with its state.
    virtual void centralManagerDidUpdateState(BleManagerState state) = 0;
    // A scan saw an advertising peripheral: once per peripheral per scan (a new
    // `scanForPeripherals` starts a new scan), and again whenever the peripheral starts
    // advertising anew while the scan runs.
    virtual void didDiscoverPeripheral(const std::shared_ptr<BlePeripheral>& peripheral,
                                       const BleAdvertisement& advertisement, int rssi) = 0;
    // The link is up and the peripheral's services can be discovered. Connecting a connected
    // peripheral reports this again.
    virtual void didConnectPeripheral(const std::shared_ptr<BlePeripheral>& peripheral) = 0;
    // A connection attempt failed. An attempt the peripheral never answers stays pending until
    // it is cancelled: there is no time-out here.
    virtual void didFailToConnectPeripheral(const std::shared_ptr<BlePeripheral>& peripheral,
                                            const std::optional<BleError>& error) = 0;
    // The link closed: cancelled (also a pending attempt), or dropped (with `error`).
    virtual void didDisconnectPeripheral(const std::shared_ptr<BlePeripheral>& peripheral,
                                         const std::optional<BleError>& error) = 0;
};

// The central itself. Released, it closes its links and abandons its attempts, reporting
// nothing: the peripherals are free for another central.
class BleCentral {
  public:
    virtual ~BleCentral() = default;

    virtual BleManagerState state() const = 0;
    // The queue its callbacks run on.
    virtual std::shared_ptr<DispatchQueue> queue() const = 0;

    // Starts (or restarts) a scan for peripherals that advertise one of `serviceUuids`
    // (normalised or 16-bit texts); ignored unless powered on.
    virtual void scanForPeripherals(const std::vector<std::string>& serviceUuids) = 0;
    virtual void stopScan() = 0;
    // Asks for a link to `peripheral`; reported by `didConnectPeripheral` or
    // `didFailToConnectPeripheral`.
    virtual void connect(const std::shared_ptr<BlePeripheral>& peripheral) = 0;
    // Closes the link or abandons the attempt; reported by `didDisconnectPeripheral` (nothing
    // when there was neither).
    virtual void cancelPeripheralConnection(const std::shared_ptr<BlePeripheral>& peripheral) = 0;
};

// Makes the central of a new driver scanner: callbacks to `delegate` (held weakly) on `queue`.
using BleCentralFactory = std::function<std::shared_ptr<BleCentral>(
    std::weak_ptr<BleCentralDelegate> delegate, std::shared_ptr<DispatchQueue> queue)>;

// Installs the factory every new central comes from (process-wide). Without one (or after
// installing an empty one), centrals are BlueZ centrals on the system bus, on the adapter named
// by the environment variable QZ_BLE_ADAPTER ("hci1") or else the first one BlueZ lists.
// Returns the previous factory.
BleCentralFactory setBleCentralFactory(BleCentralFactory factory);
// A new central from the installed factory.
std::shared_ptr<BleCentral> makeBleCentral(std::weak_ptr<BleCentralDelegate> delegate,
                                           std::shared_ptr<DispatchQueue> queue);

std::string describe(BleManagerState state);

// Where the BlueZ backend's own lines go (why Bluetooth cannot be used, a call BlueZ refused).
// By default the platform console; the library's BLE session sends them to its log.
using BleLogSink = std::function<void(const std::string& line)>;
void setBleLogSink(BleLogSink sink);
void bleLog(const std::string& line);

}  // namespace qz
