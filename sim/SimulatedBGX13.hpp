#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "bgx/BGXTypes.hpp"
#include "platform/UUID.hpp"
#include "platform/ble/BleCentral.hpp"
#include "sim/SensorCore.hpp"

namespace qz::sim {

// The sensor's BGX13 module, independent of the radio: its GATT table (the streaming service
// with RX, TX, bus mode and unique id, and the device information), the module's side of fast
// acknowledgement (it grants the central an initial credit, returns credit for every write it
// takes, and sends only as much as the central's credit allows), and behind it the simulated
// sensor core: bytes written to RX go to the core, the core's answers go out as notifications
// on TX of at most `notifySize` bytes (delays through the installed clock).
//
// A radio (the simulated central, or the fake BlueZ of the tests) attaches a Link while a
// central is connected and calls `read`, `write` and `setNotifying` for it; each is held to the
// characteristic's properties (a write of a kind it does not take, or a read of one that cannot
// be read, fails; a subscription to one that does not notify is ignored). Faults: connect
// refused or never answered, errors in service discovery, characteristic discovery, a value
// read and a write, a dropped link, and the sensor core's own faults.
class SimulatedBGX13 : public std::enable_shared_from_this<SimulatedBGX13> {
  public:
    struct Options {
        std::string name = "Ostrel BLE";            // the peripheral's own name; empty: none
        std::optional<std::string> localName;       // the advertised name; none: `name`
        std::optional<UUID> identifier;             // random when none
        std::string address = "C0:4E:30:1A:2B:3C";  // the device address a BlueZ radio shows
        int rssi = -58;
        size_t maxWriteWithResponse = 244;
        size_t maxWriteWithoutResponse = 244;
        size_t notifySize = 244;  // bytes per notification
        // Sizes of the notifications of each answer, in turn (the last one repeats); empty: all
        // of `notifySize`.
        std::vector<size_t> notifySizes;
        bool fastAck = true;            // RX notifies: fast acknowledgement
        uint16_t receiveBuffer = 2048;  // the credit granted to the central
        // Seconds between the subscription to RX and the module's first credit message.
        double creditDelay = 0;
        // Seconds between taking a write and returning its credit.
        double creditReturnDelay = 0;
        // Characteristics whose subscription the module refuses.
        std::set<std::string> refusedSubscriptions;
        std::string modelNumber = "BGX13P";
        std::string firmwareRevision = "BGX13P.1.2.2738.2-1524-2738";
        Data uniqueId = {0x3C, 0x2E, 0xF5, 0x00, 0x12, 0xAB, 0xCD, 0xEF};
        uint8_t busMode = 1;         // stream mode
        bool answersBusMode = true;  // false: bus mode reads go unanswered
        bool feedsSensor = true;     // false: host bytes are only counted
        bool record = true;          // keep every write and notification
    };

    // `disconnect`: the radio's next request to close the link fails and the link stays up.
    enum class Fault { serviceDiscovery, characteristicDiscovery, valueUpdate, write, disconnect };
    enum class ConnectAnswer { accept, refuse, silent };

    // The radio's side of a connected link. Called with the module's lock held: an
    // implementation must not call back into the module.
    class Link {
      public:
        virtual ~Link() = default;
        // One notification of a subscribed characteristic.
        virtual void notify(const std::string& uuid, const Data& value) = 0;
        // The module lost the link.
        virtual void dropped(const BleError& error) = 0;
    };

    struct CharacteristicSpec {
        std::string uuid;
        uint32_t properties = 0;
    };
    struct ServiceSpec {
        std::string uuid;
        std::vector<CharacteristicSpec> characteristics;
    };
    // A read: `answered` false when the module stays silent.
    struct ReadAnswer {
        bool answered = true;
        Data value;
        std::optional<BleError> error;
    };

    static std::shared_ptr<SimulatedBGX13> create(
        std::shared_ptr<SensorCore> core = std::make_shared<SensorCore>());
    static std::shared_ptr<SimulatedBGX13> create(std::shared_ptr<SensorCore> core,
                                                  Options options);

    const Options& options() const { return options_; }
    UUID identifier() const { return identifier_; }
    SensorCore& core() { return *core_; }
    const std::shared_ptr<SensorCore>& sharedCore() const { return core_; }
    std::vector<ServiceSpec> services() const;

    // The radio's side.
    ConnectAnswer connectAnswer() const;
    // A central connected (any earlier link is forgotten).
    void attach(std::shared_ptr<Link> link);
    // The central closed the link.
    void detach();
    bool linked() const;
    ReadAnswer read(const std::string& uuid);
    std::optional<BleError> write(const std::string& uuid, const Data& value, BleWriteType type);
    // The error of a refused subscription (see `refusedSubscriptions`), or none.
    std::optional<BleError> setNotifying(const std::string& uuid, bool on);
    // The peripheral's own name (none when `name` is empty) and the advertised one.
    std::optional<std::string> peripheralName() const;
    std::optional<std::string> advertisedName() const;
    // Consumes one injected fault of that kind; its error, or none.
    std::optional<BleError> takeFault(Fault fault);
    // Called when the module starts advertising again (after a link drop and reappearance).
    void setAdvertiseHook(std::function<void()> hook);

    // Tests.
    void injectFault(Fault fault, int times = 1);
    void setConnectAnswer(ConnectAnswer answer);
    // The link drops (as out of range).
    void dropLink();
    // The signal strength a central reads from now on.
    void setRssi(int rssi);
    int rssi() const;
    // Every value written to `uuid` while linked, in order.
    std::vector<Data> writes(const std::string& uuid) const;
    // Notifications sent on `uuid`.
    std::vector<Data> notifications(const std::string& uuid) const;
    // The central's reads and subscriptions while linked, in order: "read <uuid>",
    // "notify <uuid>" (also those refused).
    std::vector<std::string> requests() const;
    // Bytes the central sent beyond the credit the module gave it.
    size_t creditOverrun() const;
    size_t bytesReceived() const;
    // Bytes the central still may send, as the module counts them.
    int64_t centralCredit() const;

    static BleError linkLostError();

  private:
    SimulatedBGX13(std::shared_ptr<SensorCore> core, Options options);
    void handle(const Output& output);                              // mutex_ held
    void flush();                                                   // mutex_ held
    void notifyLocked(const std::string& uuid, const Data& value);  // mutex_ held
    void dropLocked();                                              // mutex_ held
    void schedule(const std::vector<Output>& outputs);              // mutex_ held
    // Runs `work` with the lock held after `seconds`, while the link it was asked on lasts.
    void later(double seconds, std::function<void(SimulatedBGX13&)> work);  // mutex_ held
    // The properties of `uuid` in the GATT table, or none when it has no such characteristic.
    std::optional<uint32_t> propertiesOf(const std::string& uuid) const;

    const std::shared_ptr<SensorCore> core_;
    const Options options_;
    const UUID identifier_;

    mutable std::mutex mutex_;
    std::shared_ptr<Link> link_;
    uint64_t linkGeneration_ = 0;
    ConnectAnswer connectAnswer_ = ConnectAnswer::accept;
    std::map<Fault, int> faults_;
    std::set<std::string> notifying_;
    uint8_t busMode_;
    int rssi_;
    int64_t centralCredit_ = 0;  // bytes the central may send
    int64_t moduleCredit_ = 0;   // bytes the module may send
    std::deque<Data> pendingOut_;
    size_t pieces_ = 0;  // notifications sent of the answer at the front
    std::map<std::string, std::vector<Data>> writes_;
    std::map<std::string, std::vector<Data>> notifications_;
    std::vector<std::string> requests_;
    size_t overrun_ = 0;
    size_t received_ = 0;
    std::function<void()> advertiseHook_;
};

}  // namespace qz::sim
