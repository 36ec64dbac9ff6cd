#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Clock.hpp"

// The adapter interfaces the host registers with the engine through QZEPitCrew.
// Texts that may be absent are optionals.

namespace qz {

using OptionalText = std::optional<std::string>;

// How the sensor took a set-up command.
enum class QZESetupAnswer {
    accepted,    // "OK" with no refusal or error word
    refused,     // any other reply
    unanswered,  // no reply: a time-out, the link closed, no adapter
};

// A command's reply as the engine reads it: the text the sensor printed and, apart from it,
// whether the reply stopped before its prompt (the text is then the part that came).
struct QZECommandReply {
    std::string text;
    bool cutShort = false;
};

// Sends commands to the sensor.
class QZVehicleCommunicationProtocol {
  public:
    virtual ~QZVehicleCommunicationProtocol() = default;
    // What every failed command answers (no adapter, a time-out, the link closed).
    static constexpr const char* kNoDataReply = "NO DATA/r>";
    // True when the sensor accepted the set-up command.
    virtual bool sendSetupCommandToOstrel(const OptionalText& cmd) = 0;
    // The reply text.
    virtual OptionalText sendCommandToOstrel(const OptionalText& cmd) = 0;
    virtual bool sendSetupCommandToOstrel(const OptionalText& cmd, bool ignoreTimeout) = 0;
    // A command and its reply, a reply cut short told apart from its text; an adapter that
    // cannot tell answers the text of sendCommandToOstrel, never cut.
    virtual QZECommandReply sendCommand(const OptionalText& cmd) {
        return {sendCommandToOstrel(cmd).value_or(kNoDataReply), false};
    }
    // A set-up command and how the sensor took it; an adapter that cannot tell a refusal from no
    // answer calls every failure a refusal.
    virtual QZESetupAnswer sendSetupCommand(const OptionalText& cmd) {
        return sendSetupCommandToOstrel(cmd) ? QZESetupAnswer::accepted : QZESetupAnswer::refused;
    }
    // Whether the link to the sensor is open; once it closed, commands fail at once.
    virtual bool isLinkOpen() { return true; }
    // The engine's pauses (between retries, before a restore): `seconds` on the installed clock,
    // or less once the link to the sensor closed, since nothing is then worth waiting for.
    virtual void pause(double seconds) { Clock::current()->sleepFor(seconds); }
};

// The pins and protocol last selected on the sensor.
class QZSensorStateTracker {
  public:
    virtual ~QZSensorStateTracker() = default;
    virtual int64_t activeHighPin() = 0;
    virtual int64_t activeLowPin() = 0;
    // The protocol character last selected.
    virtual OptionalText activeProtocolString() = 0;
    // Whether headers are shown ("KQH1" in force); none when not followed.
    virtual std::optional<bool> headersShown() { return std::nullopt; }
};

// What is known of the connected vehicle.
class QZVehicleStateInfo {
  public:
    virtual ~QZVehicleStateInfo() = default;
    virtual int64_t modelYear() = 0;
    // An EnhancedProtocolManufacturer number.
    virtual int64_t vehicleDataManufacturer() = 0;
    virtual OptionalText obd2ProtocolString() = 0;
    virtual OptionalText vin() = 0;
};

// The current session's vehicle.
class QZESessionProtocol {
  public:
    virtual ~QZESessionProtocol() = default;
    virtual OptionalText activeVin() = 0;
    // The active enhanced protocol, i.e. the make number.
    virtual int64_t activeProtocol() = 0;
    // When the connected sensor's version was not read at this connection: the firmware number
    // (400 for 4.00) that sensor told at an earlier one, a guess; else 0.
    virtual int64_t sensorVersionGuess() { return 0; }
};

// The stored sensor and vehicle settings.
class QZDataAdapter {
  public:
    virtual ~QZDataAdapter() = default;
    virtual void setEnhancedProtocol(const OptionalText& value) = 0;
    virtual OptionalText EnhancedProtocol() = 0;
    virtual OptionalText VIN() = 0;
    virtual void setVehicleParentMan(const OptionalText& value) = 0;
    virtual OptionalText vehicleParentMan() = 0;
    // For example 400 for version 4.00; 0 when the version was not read.
    virtual int64_t sensorVersionNumber() = 0;
    virtual int64_t obd2Protocol() = 0;
    // Send the "KQ" form of set-up commands, else the "AT" form.
    virtual bool useNewCommandSet() = 0;
    virtual OptionalText customVehicleMan() = 0;
};

// Make names from VINs.
class QZVINDataAdapter {
  public:
    virtual ~QZVINDataAdapter() = default;
    virtual OptionalText manufacturerNameFromVin(const OptionalText& vin) = 0;
};

// The sensor's response wait (for the host app).
class QZSensorTimeoutAdapter {
  public:
    virtual ~QZSensorTimeoutAdapter() = default;
    virtual void setMaxWaitTimeForSensorResponse(double seconds) = 0;
    virtual void resetSesorResponseTime() = 0;
};

// Shows a message to the user (for the host app).
class QZEIndicatorAdapter {
  public:
    virtual ~QZEIndicatorAdapter() = default;
    virtual void showWithTitle(const OptionalText& title, const OptionalText& message,
                               std::function<void()> completionBlock) = 0;
};

// Remembers module response states per VIN (for the host app).
class ModuleStatusManagerProtocol {
  public:
    virtual ~ModuleStatusManagerProtocol() = default;
    virtual void setResponseState(int64_t state, const OptionalText& key,
                                  const OptionalText& vin) = 0;
    virtual int64_t responseStateForModuleKey(const OptionalText& key, const OptionalText& vin) = 0;
};

}  // namespace qz
