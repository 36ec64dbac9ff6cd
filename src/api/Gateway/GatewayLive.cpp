// The live-data family: supported parameters, refreshes, the odometer, VIN support and the VIN.
// Each call but the odometer's refuses at once while another operation holds the busy flag;
// all run their vehicle work on "GatewayQueue", holding the gateway weakly (the odometer and
// VIN calls through the simpler calls, which test the flag again there). Every call reports
// exactly once; a gateway released before the queued work runs reports `noDelegate`
// (CommError results) or `callbackDeallocated` (PelkError results).

#include <source_location>

#include "api/Communication/Relay.hpp"
#include "api/Gateway/Gateway.hpp"
#include "api/Live/VinCheck.hpp"
#include "api/Logging/Log.hpp"
#include "api/PIDs/PID0902.hpp"
#include "api/PIDs/PIDInterface.hpp"
#include "platform/Describe.hpp"

namespace qz {

namespace {

constexpr std::string_view kUpdatePID = "updatePID(_:callback:)";
constexpr std::string_view kSupportedPids = "supportedPids(callback:)";
constexpr std::string_view kCheckAutoVin = "checkAutoVinSupport(callback:)";
constexpr std::string_view kRequestVin = "requestVin(callback:)";
constexpr std::string_view kRequestOdometer = "requestOdometer(callback:)";

// Log lines that carry the public entry point's name, wherever they are written from.
struct CallLog {
    std::string_view func;

    void publicCall(const std::vector<std::string>& args,
                    std::source_location at = std::source_location::current()) const {
        Log::PublicFuncCall(args, at.file_name(), at.line(), at.column(), func);
    }
    void i(const std::string& text,
           std::source_location at = std::source_location::current()) const {
        Log::i(text, at.file_name(), at.line(), at.column(), func);
    }
    void e(const std::string& text,
           std::source_location at = std::source_location::current()) const {
        Log::e(text, at.file_name(), at.line(), at.column(), func);
    }
};

template <class F>
std::string callbackText(const F& callback) {
    return "callback:" + describe(callback);
}

CommError odometerError(const PelkError& error) {
    switch (error.kind()) {
        case PelkError::Kind::dataError:
            return CommError::invalidData;
        case PelkError::Kind::notConnected:
            return CommError::notConnected;
        case PelkError::Kind::deviceBusy:
            return CommError::deviceBusy;
        default:  // general, initialization, callbackDeallocated
            return CommError::unsupported;
    }
}

// Runs `work` on "GatewayQueue" for a gateway that is still there and connected, holding the
// busy flag meanwhile, and hands its result to `callback` once the gateway is let go. A gateway
// released before then reports `gone`; one not connected logs `notConnectedText` and reports
// `notConnected`.
template <class Callback, class Error, class Work>
void runWhenConnected(std::weak_ptr<Gateway> weak, Callback callback, CallLog log,
                      std::string notConnectedText, Error gone, Error notConnected, Work work) {
    Gateway::gatewayQueue()->async([weak = std::move(weak), callback = std::move(callback), log,
                                    notConnectedText = std::move(notConnectedText), gone,
                                    notConnected, work = std::move(work)] {
        auto self = weak.lock();
        if (!self) {
            if (callback) callback(std::unexpected(gone));
            return;
        }
        if (self->status() != SensorConnectionStatus::connected) {
            log.e(notConnectedText);
            if (callback) callback(std::unexpected(notConnected));
            return;
        }
        // A scan asked for meanwhile already holds the flag: it is not this work's to clear.
        const bool took = self->tryBeginBusy();
        auto result = work(*self);
        if (took) self->setIsBusy(false);
        self.reset();
        if (callback) callback(std::move(result));
    });
}

}  // namespace

void Gateway::updatePID(std::shared_ptr<PIDInfo> pid, PIDCallback callback) {
    const CallLog log{kUpdatePID};
    const std::string description = logText(pid);
    log.i("Requesting to update data for PID: " + description);
    log.publicCall({"pid: " + description, callbackText(callback)});
    if (isBusy()) {
        log.e("Could not update PID, device is busy");
        if (callback) callback(std::unexpected(CommError::deviceBusy));
        return;
    }
    runWhenConnected(
        weak_from_this(), std::move(callback), log, "Could not update PID, device not connected",
        CommError::noDelegate, CommError::notConnected,
        [pid = std::move(pid)](Gateway& g) { return g.pidInterface()->updatePid(pid); });
}

void Gateway::supportedPids(PIDListCallback callback) {
    const CallLog log{kSupportedPids};
    log.publicCall({callbackText(callback)});
    log.i("Begining search for supported PIDs");
    if (isBusy()) {
        log.e("Could not retrieve supported PIDs: device busy");
        if (callback) callback(std::unexpected(PelkError::deviceBusy()));
        return;
    }
    runWhenConnected(weak_from_this(), std::move(callback), log,
                     "Could not retrieve supported PIDs: device not connected",
                     PelkError::callbackDeallocated(), PelkError::notConnected(),
                     [](Gateway& g) { return g.pidInterface()->checkSupport(); });
}

std::vector<std::shared_ptr<PIDInfo>> Gateway::pids() {
    return pidInterface()->getPids();
}

void Gateway::requestOdometer(OdometerCallback callback) {
    const CallLog log{kRequestOdometer};
    log.publicCall({callbackText(callback)});
    log.i("Requesting odometer");
    std::weak_ptr<Gateway> weak = weak_from_this();
    gatewayQueue()->async([weak, callback = std::move(callback), log] {
        auto self = weak.lock();
        if (!self) {
            log.e("Could not get odometer data as delegate was deallocated");
            if (callback) callback(std::unexpected(CommError::noDelegate));
            return;
        }
        self->supportedPids([weak, callback, log](auto list) {
            if (!list) {
                if (callback) callback(std::unexpected(odometerError(list.error())));
                return;
            }
            std::shared_ptr<PIDInfo> odometer;
            for (const auto& p : *list)
                if (p->pid() == 0xA6) {
                    odometer = p;
                    break;
                }
            if (!odometer) {
                log.e("Could not get odometer data as PID 01A6 is unsupported");
                if (callback) callback(std::unexpected(CommError::unsupported));
                return;
            }
            auto gateway = weak.lock();
            if (!gateway) {
                if (callback) callback(std::unexpected(CommError::noDelegate));
                return;
            }
            gateway->updatePID(odometer, [callback, log](auto refreshed) {
                if (!refreshed) {
                    log.e(describe(refreshed.error()));
                    if (callback) callback(std::unexpected(refreshed.error()));
                    return;
                }
                if (auto numeric = std::dynamic_pointer_cast<NumericPID>(*refreshed)) {
                    log.i("Sucessfully returned odometer PID");
                    if (callback) callback(std::move(numeric));
                } else {
                    log.e("Could not get odometer data unexpected data was returned");
                    if (callback) callback(std::unexpected(CommError::invalidData));
                }
            });
        });
    });
}

void Gateway::checkAutoVinSupport(SupportCallback callback) {
    const CallLog log{kCheckAutoVin};
    log.i("Checking if Auto VIN is supported");
    log.publicCall({callbackText(callback)});
    if (isBusy()) {
        log.e("Could not check auto VIN support. Device is busy.");
        if (callback) callback(std::unexpected(PelkError::deviceBusy()));
        return;
    }
    if (PIDInterface::onCanBus(vehicle())) {
        if (callback) callback(true);
        return;
    }
    runWhenConnected(weak_from_this(), std::move(callback), log,
                     "Could not check auto VIN support. Device is not connected",
                     PelkError::callbackDeallocated(), PelkError::notConnected(),
                     [](Gateway& g) { return g.pidInterface()->checkVinSupport(); });
}

void Gateway::requestVin(VinCallback callback) {
    const CallLog log{kRequestVin};
    log.publicCall({callbackText(callback)});
    log.e("Requesting automatic VIN retrival");
    if (isBusy()) {
        log.e("Could not automaitcally retrieve VIN. Device is busy");
        if (callback) callback(std::unexpected(CommError::deviceBusy));
        return;
    }
    std::weak_ptr<Gateway> weak = weak_from_this();
    gatewayQueue()->async([weak, callback = std::move(callback), log] {
        auto self = weak.lock();
        if (!self) {
            if (callback) callback(std::unexpected(CommError::noDelegate));
            return;
        }
        if (self->status() != SensorConnectionStatus::connected) {
            log.e("Could not automatically retrieve VIN. Device is not connected");
            if (callback) callback(std::unexpected(CommError::notConnected));
            return;
        }
        self->updatePID(std::make_shared<PID0902>(), [callback, log](auto result) {
            if (!result) {
                log.e(describe(result.error()));
                if (callback) callback(std::unexpected(result.error()));
                return;
            }
            std::string vin = (*result)->valueAsText(false);
            if (isValidVin(vin)) {
                if (callback) callback(std::move(vin));
            } else {
                log.e("Could not retrieve VIN, as it did not pass validation");
                if (callback) callback(std::unexpected(CommError::invalidData));
            }
        });
    });
}

}  // namespace qz
