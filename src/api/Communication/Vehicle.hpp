#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "api/Communication/BusProtocol.hpp"
#include "api/Communication/CommError.hpp"
#include "api/PIDs/Enums/MultiResponseStrategy.hpp"
#include "lib/Facades/QZEAdapters.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"
#include "platform/Result.hpp"

namespace qz {

class PIDInfo;
class QZEPitCrew;
class QZERebrandedVinChecker;
class Relay;
class VehicleInitializer;

// What the library knows of the sensor and the car (sensor version, bus, pins, VIN, make,
// model year), and the engine's only road to the sensor: the engine's communication, session,
// vehicle-state and sensor-state adapter.
//
// The sending operations run on the gateway's serial work queue; the fields are guarded by a
// mutex (never held while sending or logging) so other threads may read them.
class Vehicle : public QZVehicleCommunicationProtocol,
                public QZSensorStateTracker,
                public QZVehicleStateInfo,
                public QZESessionProtocol,
                public std::enable_shared_from_this<Vehicle> {
  public:
    // Seconds between two looks at the link during an engine pause.
    static constexpr double kLinkPoll = 0.25;

    // A vehicle whose rebranded-VIN list is the library's "enhanceddiag/Rebranded-VINs.xml"
    // (no list when the resource is missing).
    static std::shared_ptr<Vehicle> create();
    // A vehicle with the given rebranded-VIN list path (nullopt: none).
    static std::shared_ptr<Vehicle> create(std::optional<std::filesystem::path> rebrandedVins);

    ~Vehicle() override;
    Vehicle(const Vehicle&) = delete;
    Vehicle& operator=(const Vehicle&) = delete;

    std::shared_ptr<Relay> relay() const;
    void setRelay(std::shared_ptr<Relay> relay);

    // Registers this vehicle with the engine as communication, session, state-info and
    // sensor-state adapter.
    void registerWithEngine(QZEPitCrew& pitCrew);

    // Initialises a freshly connected sensor; stores its version and bus in PelkData, and the
    // version as that sensor's (by its identifier). A version not read (no whole answer) is not
    // known (0) and stores nothing: the one stored for that sensor is only a guess
    // (sensorVersionGuess).
    bool initializeVehicle();
    // Probes up to three times whether the sensor sits in firmware recovery mode.
    bool checkIfInRecoveryMode();
    // One parameter request; stores the answer's bytes in `pid`.
    Result<std::string, CommError> sendAndUpdate(PIDInfo& pid, bool multipleResponses,
                                                 MultiResponseStrategy strategy);

    std::optional<std::string> currentVin() const;
    // Resolves the make (rebranded-VIN list, then the WMI table) and the model year when the
    // VIN changes.
    void setCurrentVin(std::optional<std::string> vin);

    VehicleInitializer& initializer();

    bool initialized() const;
    BusProtocol activeMainBus() const;
    EnhancedProtocolManufacturer activeEnhancedProtocol() const;
    std::optional<int64_t> activeYear() const;
    // 0 when not read at this connection.
    float activeSensorVersion() const;
    // The same version as the sensor wrote it ("4.08"); empty when not read.
    std::string activeSensorVersionText() const;

    // Pins the sensor uses after initialisation on the given bus.
    void setActivePins(BusPins pins);

    // QZVehicleCommunicationProtocol
    // The reply text; "NO DATA/r>" on any failure, a reply cut short included.
    OptionalText sendCommandToOstrel(const OptionalText& cmd) override;
    // The reply; one that stopped before its prompt is the part that came, told as cut short
    // (nothing or blanks before the time-out are a failure: "NO DATA/r>", not cut, unless the
    // answer is not known for the main queue: then cut short all the same).
    QZECommandReply sendCommand(const OptionalText& cmd) override;
    // True when the sensor accepted the command: "OK" with no "?", NO DATA or error word.
    bool sendSetupCommandToOstrel(const OptionalText& cmd) override;
    // As above; the flag has no effect.
    bool sendSetupCommandToOstrel(const OptionalText& cmd, bool ignoreTimeout) override;
    // Unanswered when the exchange failed (a time-out, the link closed, no relay). The pins,
    // protocol and headers a set-up selects are recorded only when the sensor accepted it.
    QZESetupAnswer sendSetupCommand(const OptionalText& cmd) override;
    // The relay's link (true without a relay).
    bool isLinkOpen() override;
    // Sleeps `seconds` in steps of `kLinkPoll`, and stops at the first step that finds the link
    // closed.
    void pause(double seconds) override;

    // QZSensorStateTracker
    int64_t activeHighPin() override;
    int64_t activeLowPin() override;
    OptionalText activeProtocolString() override;
    std::optional<bool> headersShown() override;

    // QZVehicleStateInfo
    int64_t modelYear() override;
    int64_t vehicleDataManufacturer() override;
    OptionalText obd2ProtocolString() override;
    OptionalText vin() override;

    // QZESessionProtocol
    OptionalText activeVin() override;
    int64_t activeProtocol() override;
    int64_t sensorVersionGuess() override;

    // The pins and protocol text that a "KQSP" or "KQSM" command selects, the header display of
    // "KQH0"/"KQH1" and the response bytes of "KQRP0"/"KQRP1" (both off again after "KQD" or
    // "KQZ"). Run for a command the sensor accepted, whichever way it was sent.
    void proccessPinSwitchCommands(const std::string& cmd);

    // Whether the sensor prints the service and PID before the bytes of a Mode 1 or Mode 9
    // answer ("KQRP1" in force, as followed here); none when not known (a "KQRP" set-up that
    // went unanswered or was answered with something else than "OK" or a refusal).
    std::optional<bool> responseBytesShown() const;
    // Why that is not known, in words (`setupNotTaken` of the first "KQRP" set-up that left it
    // unknown); empty while it is known.
    std::string responseBytesUnknown() const;
    // Has the sensor print them, or not ("KQRP1"/"KQRP0", sent only when not known to be in
    // force already, and "KQRP1" not again after a refusal until the next initialisation); true
    // when they are as asked. A refusal ("?", an error word) leaves the sensor as it was.
    bool showResponseBytes(bool shown);
    // How the next Mode 1 or Mode 9 answer comes: with names (true) or its bytes alone (false),
    // `wanted` where the sensor takes it, else the way known to be in force. Never a guess: when
    // neither is known, the sensor did not answer its set-up (`timedOut`, or `notConnected` once
    // the link is gone), and nothing is to be read.
    Result<bool, CommError> answersNamed(bool wanted = true);

    // "0x" prefix optional; empty, unparseable or above 255 gives 0.
    static uint8_t hexToUInt8(std::string_view text);
    // A set-up command the sensor did not take, in words: "the sensor did not answer the set-up
    // command KQX1" (no reply), "the sensor refused the set-up command KQX1 (it answered "?")";
    // with `answerUnknown` (the relay's, for no reply) that its answer was held on the app's main
    // queue.
    static std::string setupNotTaken(std::string_view command,
                                     const Result<std::string, CommError>& reply,
                                     bool answerUnknown = false);

  private:
    explicit Vehicle(std::optional<std::filesystem::path> rebrandedVins);
    Result<std::string, CommError> exchange(const std::string& command);
    static bool isResponseBytesCommand(const std::string& cmd);
    // Follows the answer to a "KQRP" set-up that was not accepted.
    void followResponseBytes(const std::string& command,
                             const Result<std::string, CommError>& reply);
    // The identifier of the sensor the relay's session is connected to, if any.
    std::optional<std::string> sensorIdentifier() const;

    std::unique_ptr<QZERebrandedVinChecker> m_rebrandingChecker;
    std::unique_ptr<VehicleInitializer> m_initializer;

    mutable std::mutex m_mutex;
    std::shared_ptr<Relay> m_relay;
    bool m_initialized = false;
    std::optional<std::string> m_currentVin;
    BusProtocol m_activeMainBus = BusProtocol::unknownBus;
    bool m_headersShown = false;
    std::optional<bool> m_responseBytesShown = false;
    std::string m_responseBytesUnknown;
    bool m_responseBytesRefused = false;
    int64_t m_activeHighPin = 0;
    int64_t m_activeLowPin = 0;
    std::string m_activeObdProtocol = "0";
    EnhancedProtocolManufacturer m_activeEnhancedProtocol = EnhancedProtocolManufacturer::Unknown;
    std::optional<int64_t> m_activeYear;
    float m_activeSensorVersion = 0;
    std::string m_activeSensorVersionText;
    // The version × 100 the sensor told at an earlier connection, while this one's was not read.
    int64_t m_sensorVersionGuess = 0;
};

}  // namespace qz
