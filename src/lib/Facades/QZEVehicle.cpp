#include "lib/Facades/QZEVehicle.hpp"

#include "lib/Logging/QZELogging.hpp"
#include "platform/Locked.hpp"

namespace qz {

namespace {
constexpr const char* kNoComms = "Communication protocol not implemented";
constexpr const char* kNoTracker = "State tracker not implemented";
constexpr const char* kNoTimeout = "QZSensorTimeoutAdapter not implemented";
constexpr const char* kNoStateInfo = "QZVehicleStateInfo not implemented";
}  // namespace

QZEVehicle& QZEVehicle::TheVehicle() {
    static QZEVehicle* instance = new QZEVehicle();
    return *instance;
}

void QZEVehicle::registerCommuications(std::shared_ptr<QZVehicleCommunicationProtocol> comms) {
    lockedAssign(mutex_, m_comms, std::move(comms));
}
void QZEVehicle::registerQZSensorStateTracker(std::shared_ptr<QZSensorStateTracker> tracker) {
    lockedAssign(mutex_, m_stateTracker, std::move(tracker));
}
void QZEVehicle::registerQZSensorTimeoutAdapter(std::shared_ptr<QZSensorTimeoutAdapter> adapter) {
    lockedAssign(mutex_, m_timeoutAdapter, std::move(adapter));
}
void QZEVehicle::registerVehicleStateInfoAdapter(std::shared_ptr<QZVehicleStateInfo> info) {
    lockedAssign(mutex_, m_vehicleStateInfo, std::move(info));
}

std::shared_ptr<QZSensorStateTracker> QZEVehicle::stateTracker() {
    return lockedCopy(mutex_, m_stateTracker);
}
std::shared_ptr<QZVehicleCommunicationProtocol> QZEVehicle::comms() {
    return lockedCopy(mutex_, m_comms);
}
std::shared_ptr<QZSensorTimeoutAdapter> QZEVehicle::timeoutAdapter() {
    return lockedCopy(mutex_, m_timeoutAdapter);
}
std::shared_ptr<QZVehicleStateInfo> QZEVehicle::vehicleStateInfo() {
    return lockedCopy(mutex_, m_vehicleStateInfo);
}

bool QZEVehicle::sendSetupCommandToOstrel(const OptionalText& cmd) {
    if (auto c = comms()) return c->sendSetupCommandToOstrel(cmd);
    QZELogging::shared().logError(kNoComms);
    return false;
}

OptionalText QZEVehicle::sendCommandToOstrel(const OptionalText& cmd) {
    if (auto c = comms()) return c->sendCommandToOstrel(cmd);
    QZELogging::shared().logError(kNoComms);
    return std::nullopt;
}

QZECommandReply QZEVehicle::sendCommand(const OptionalText& cmd) {
    if (auto c = comms()) return c->sendCommand(cmd);
    QZELogging::shared().logError(kNoComms);
    return {};
}

bool QZEVehicle::sendSetupCommandToOstrel(const OptionalText& cmd, bool ignoreTimeout) {
    if (auto c = comms()) return c->sendSetupCommandToOstrel(cmd, ignoreTimeout);
    QZELogging::shared().logError(kNoComms);
    return false;
}

QZESetupAnswer QZEVehicle::sendSetupCommand(const OptionalText& cmd) {
    if (auto c = comms()) return c->sendSetupCommand(cmd);
    QZELogging::shared().logError(kNoComms);
    return QZESetupAnswer::unanswered;
}

bool QZEVehicle::isLinkOpen() {
    auto c = comms();
    return !c || c->isLinkOpen();
}

void QZEVehicle::pause(double seconds) {
    if (auto c = comms())
        c->pause(seconds);
    else
        Clock::current()->sleepFor(seconds);
}

int64_t QZEVehicle::activeHighPin() {
    if (auto t = stateTracker()) return t->activeHighPin();
    QZELogging::shared().logError(kNoTracker);
    return 0;
}

int64_t QZEVehicle::activeLowPin() {
    if (auto t = stateTracker()) return t->activeLowPin();
    QZELogging::shared().logError(kNoTracker);
    return 0;
}

OptionalText QZEVehicle::activeProtocolString() {
    if (auto t = stateTracker()) return t->activeProtocolString();
    QZELogging::shared().logError(kNoTracker);
    return std::nullopt;
}

std::optional<bool> QZEVehicle::headersShown() {
    if (auto t = stateTracker()) return t->headersShown();
    return std::nullopt;
}

namespace {

// The digits of the CAN identifiers a protocol shows: "6", "8", GMLAN's ":" and MS-CAN's "="
// are 11-bit; "7", "9" and CAN B's "<" 29-bit.
int identifierDigitsOf(std::string_view protocol) {
    if (protocol.size() != 1) return 0;
    switch (protocol[0]) {
        case '6':
        case '8':
        case ':':
        case '=':
            return 3;
        case '7':
        case '9':
        case '<':
            return 8;
        default:
            return 0;
    }
}

}  // namespace

QZEDisplayForm QZEVehicle::displayForm() {
    QZEDisplayForm form;
    auto tracker = stateTracker();
    if (!tracker) return form;
    form.headers = tracker->headersShown();
    if (form.headers != true) return form;
    const std::string protocol = tracker->activeProtocolString().value_or("");
    form.identifierDigits = identifierDigitsOf(protocol);
    if (form.identifierDigits == 0 && (protocol.empty() || protocol == "0"))
        if (auto info = vehicleStateInfo()) {
            const std::string bus = info->obd2ProtocolString().value_or("");
            if (bus.starts_with("CAN11") || bus == "GM_LAN") form.identifierDigits = 3;
            if (bus.starts_with("CAN29")) form.identifierDigits = 8;
        }
    return form;
}

void QZEVehicle::resetSesorResponseTime() {
    if (auto t = timeoutAdapter()) return t->resetSesorResponseTime();
    QZELogging::shared().logError(kNoTimeout);
}

void QZEVehicle::setMaxWaitTimeForSensorResponse(double seconds) {
    if (auto t = timeoutAdapter()) return t->setMaxWaitTimeForSensorResponse(seconds);
    QZELogging::shared().logError(kNoTimeout);
}

int64_t QZEVehicle::modelYear() {
    if (auto i = vehicleStateInfo()) return i->modelYear();
    QZELogging::shared().logError(kNoStateInfo);
    return 0;
}

int64_t QZEVehicle::vehicleDataManufacturer() {
    if (auto i = vehicleStateInfo()) return i->vehicleDataManufacturer();
    QZELogging::shared().logError(kNoStateInfo);
    return 0;
}

OptionalText QZEVehicle::obd2ProtocolString() {
    if (auto i = vehicleStateInfo()) return i->obd2ProtocolString();
    QZELogging::shared().logError(kNoStateInfo);
    return std::nullopt;
}

OptionalText QZEVehicle::vin() {
    if (auto i = vehicleStateInfo()) return i->vin();
    QZELogging::shared().logError(kNoStateInfo);
    return std::nullopt;
}

}  // namespace qz
