#pragma once

#include <memory>
#include <mutex>

#include "lib/Decoders/QZEModuleReply.hpp"
#include "lib/Facades/QZEAdapters.hpp"

namespace qz {

// The engine's road to the sensor and the vehicle state.
class QZEVehicle {
  public:
    static QZEVehicle& TheVehicle();

    void registerCommuications(std::shared_ptr<QZVehicleCommunicationProtocol> comms);
    void registerQZSensorStateTracker(std::shared_ptr<QZSensorStateTracker> tracker);
    void registerQZSensorTimeoutAdapter(std::shared_ptr<QZSensorTimeoutAdapter> adapter);
    void registerVehicleStateInfoAdapter(std::shared_ptr<QZVehicleStateInfo> info);

    // Without a communication adapter: error log, false / none.
    bool sendSetupCommandToOstrel(const OptionalText& cmd);
    OptionalText sendCommandToOstrel(const OptionalText& cmd);
    // The reply with the fact that it was cut short apart from its text (an empty text, not
    // cut, without a communication adapter).
    QZECommandReply sendCommand(const OptionalText& cmd);
    bool sendSetupCommandToOstrel(const OptionalText& cmd, bool ignoreTimeout);
    // Unanswered without a communication adapter.
    QZESetupAnswer sendSetupCommand(const OptionalText& cmd);
    // Whether the link to the sensor is open (true without a communication adapter).
    bool isLinkOpen();
    // Pauses the engine (the adapter's pause; a plain sleep without one).
    void pause(double seconds);

    // Without a state tracker: error log, 0 / none.
    int64_t activeHighPin();
    int64_t activeLowPin();
    OptionalText activeProtocolString();
    // None when the state tracker does not follow them (no log).
    std::optional<bool> headersShown();
    // How the sensor shows module answers now: headers as the tracker follows them, and with
    // them the CAN identifier's size by the protocol in force (the vehicle's bus while the
    // protocol is automatic). Not known without a tracker that follows the headers (no log).
    QZEDisplayForm displayForm();

    // Without a timeout adapter: error log only.
    void resetSesorResponseTime();
    void setMaxWaitTimeForSensorResponse(double seconds);

    // Without vehicle state info: error log, 0 / none.
    int64_t modelYear();
    int64_t vehicleDataManufacturer();
    OptionalText obd2ProtocolString();
    OptionalText vin();

  private:
    QZEVehicle() = default;
    std::shared_ptr<QZSensorStateTracker> stateTracker();
    std::shared_ptr<QZVehicleCommunicationProtocol> comms();
    std::shared_ptr<QZSensorTimeoutAdapter> timeoutAdapter();
    std::shared_ptr<QZVehicleStateInfo> vehicleStateInfo();

    std::mutex mutex_;
    std::shared_ptr<QZSensorStateTracker> m_stateTracker;
    std::shared_ptr<QZVehicleCommunicationProtocol> m_comms;
    std::shared_ptr<QZSensorTimeoutAdapter> m_timeoutAdapter;
    std::shared_ptr<QZVehicleStateInfo> m_vehicleStateInfo;
};

}  // namespace qz
