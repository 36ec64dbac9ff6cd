// The scan family: scans through a ScanController on "GatewayQueue", reported to analytics, and
// clears of the modules the latest scan reported.

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string_view>
#include <vector>

#include "api/Analytics/AnalyticsClient.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/Data/EnhancedProtocolManufacturerNames.hpp"
#include "api/Gateway/Gateway.hpp"
#include "api/Logging/Log.hpp"
#include "api/Scan/GenericClearReply.hpp"
#include "api/Scan/InstanceStorage.hpp"
#include "api/Scan/ScanController.hpp"
#include "lib/Facades/QZEVehicle.hpp"
#include "lib/Scanning/QZEModuleScanner.hpp"
#include "platform/Clock.hpp"
#include "platform/Describe.hpp"
#include "platform/Locked.hpp"

namespace qz {

namespace {

// Seconds a successful scan's result waits for the analytics post before it goes to the caller
// anyway (the post goes on, and a failed event is cached as ever).
constexpr double kResultWait = 1.0;

// Whether the analytics client has answered the scan-finished event.
struct AnalyticsAnswer {
    std::mutex mutex;
    std::condition_variable changed;
    bool answered = false;
};

// What the closures of one scan share.
struct ScanState {
    ScanState(std::weak_ptr<Gateway> gateway, PelkScanType scanType,
              PelkScanDelegate::ScanListener listener)
        : gateway(std::move(gateway)), scanType(scanType), listener(std::move(listener)) {}

    const std::weak_ptr<Gateway> gateway;
    const PelkScanType scanType;
    const PelkScanDelegate::ScanListener listener;
    // The final result has arrived (it may still wait for the analytics client); later values
    // are dropped.
    std::atomic<bool> completed{false};

    // Keeps the controller (and with it this state) alive for the scan.
    void hold(std::shared_ptr<ScanController> c) { lockedAssign(mutex, controller, std::move(c)); }
    // Lets the controller go and stops its prompts.
    void release() {
        std::shared_ptr<ScanController> c;
        {
            std::lock_guard lock(mutex);
            c.swap(controller);
        }
        if (c) c->stopObserving();
    }

  private:
    std::mutex mutex;
    std::shared_ptr<ScanController> controller;
};

// The generic module's codes by status, and every other module's codes by acronym.
struct SortedCodes {
    std::vector<std::string> confirmed, pending, permanent;
    std::map<std::string, std::vector<std::string>> enhanced;

    explicit SortedCodes(const PelkModules& modules) {
        for (const auto& module : modules) {
            if (!module) continue;
            const auto results = module->results();
            if (module->acronym() == "OBD") {
                for (const auto& code : results) sortByStatus(*code);
            } else {
                // A later module of the same acronym adds its codes.
                auto& codes = enhanced[module->acronym()];
                for (const auto& code : results) codes.push_back(code->code());
            }
        }
    }

  private:
    // A code read as several kinds carries their words joined by "/" ("CONFIRMED/PENDING"):
    // it goes into the list of each; any other status counts as permanent.
    void sortByStatus(const PelkTroubleCode& code) {
        std::vector<std::vector<std::string>*> added;
        const std::string& status = code.status();
        for (size_t from = 0; from <= status.size();) {
            const size_t to = std::min(status.find('/', from), status.size());
            const std::string_view word(status.data() + from, to - from);
            auto* list = word == "CONFIRMED" ? &confirmed
                         : word == "PENDING" ? &pending
                                             : &permanent;
            if (std::find(added.begin(), added.end(), list) == added.end()) {
                list->push_back(code.code());
                added.push_back(list);
            }
            from = to + 1;
        }
    }
};

const char* boolText(bool value) {
    return value ? "true" : "false";
}

// Hands the final result to the caller and lets the controller go.
void deliverResult(const std::shared_ptr<ScanState>& state, const PelkScanProgress& value) {
    state->release();
    state->listener(value);
}

// Receives every value of one scan's controller and passes it on to the caller. The final
// result comes from the controller's start, on "GatewayQueue", and goes to the caller there on
// every path.
void relayProgress(const std::shared_ptr<ScanState>& state, PelkScanProgress value) {
    const bool isFinal = value.kind() == PelkScanProgress::Kind::complete;
    auto gateway = state->gateway.lock();
    if (!gateway) {
        if (isFinal) state->release();
        return;
    }
    // Nothing follows a scan's end.
    if (state->completed) return;
    if (isFinal) {
        if (state->completed.exchange(true)) return;
        gateway->setIsBusy(false);
        const auto& result = *value.result();
        auto vin = gateway->vehicle()->currentVin();
        if (result && vin) {
            const SortedCodes codes(*result);
            auto answer = std::make_shared<AnalyticsAnswer>();
            gateway->analyticsClient()->logScanComplete(
                *vin, rawValue(state->scanType), codes.confirmed, codes.pending, codes.permanent,
                codes.enhanced, 0, gateway->ymme(), gateway->sessionController()->currentMac(),
                [answer](bool submitted) {
                    Log::i(std::string("Analytics submitted : ") + boolText(submitted));
                    lockedAssign(answer->mutex, answer->answered, true);
                    answer->changed.notify_all();
                });
            gateway.reset();
            // The caller does not wait on the backend: the result goes out with the analytics
            // answer or after kResultWait, whichever comes first, on this queue either way.
            bool answered = false;
            {
                std::unique_lock lock(answer->mutex);
                answered = Clock::current()->waitFor(lock, answer->changed, kResultWait,
                                                     [&] { return answer->answered; });
            }
            if (!answered) Log::i("Analytics not answered yet, handing over the scan result");
        }
        deliverResult(state, value);
        return;
    }
    state->listener(std::move(value));
}

bool sensorConnected(Gateway& gateway) {
    auto bt = gateway.relay()->bt();
    // The status follows the session on this queue: the link itself tells sooner.
    return bt && bt->activeSensor() && gateway.status() == SensorConnectionStatus::connected &&
           gateway.relay()->linkOpen();
}

// The scan work, on "GatewayQueue".
void runScan(const std::weak_ptr<Gateway>& weak, const std::optional<std::string>& vin,
             PelkScanType scanType, const PelkScanDelegate::ScanListener& listener) {
    auto self = weak.lock();
    if (!self) {
        Log::PublicError("Scan requested, but gateway is nil");
        listener(
            PelkScanProgress::error(PelkScanError::general(460, "Gateway has been deallocated")));
        return;
    }
    // A sensor that was connected once stays the active one after a disconnect; without an
    // open session the scan could only run into the relay's time-outs.
    if (!sensorConnected(*self)) {
        Log::PublicError("Could not perform scan. No sensor connected.");
        self->setIsBusy(false);
        listener(PelkScanProgress::complete(std::unexpected(PelkScanError::disconnected({}))));
        return;
    }
    if (!self->relay()->bt()->activeSensor()->isIntialized()) {
        Log::PublicError("Could not perform scan. Sensor is not initialized.");
        self->setIsBusy(false);
        listener(PelkScanProgress::error(PelkScanError::notInitialized()));
        return;
    }
    auto vehicle = self->vehicle();
    vehicle->setCurrentVin(vin);
    const auto make = vehicle->activeEnhancedProtocol();
    if (make == EnhancedProtocolManufacturer::Unknown) {
        Log::PublicError("Enhanced Scan requested, but not supported, continuing with basic scan.");
        listener(PelkScanProgress::error(PelkScanError::enhancedUnsupported()));
    }
    Log::i("Current enhanced protocol: " + name(make));

    // The busy flag is this scan's since the call (performScan).
    auto state = std::make_shared<ScanState>(weak, scanType, listener);
    auto controller = ScanController::create(
        vin, scanType, [state](PelkScanProgress value) { relayProgress(state, std::move(value)); });
    state->hold(controller);
    if (controller->load() <= 0) {
        state->release();
        self->setIsBusy(false);
        // A link that dropped as the scan was set up is no scan that could not be loaded.
        if (!self->relay()->linkOpen()) {
            Log::PublicError("Could not perform scan. The link to the sensor dropped.");
            listener(PelkScanProgress::complete(std::unexpected(PelkScanError::disconnected({}))));
            return;
        }
        Log::PublicError("Error loading scan controller");
        listener(PelkScanProgress::error(PelkScanError::errorLoading()));
        return;
    }
    self->analyticsClient()->logScanStarted(
        vin.value_or(""), rawValue(scanType), 0, self->ymme(),
        self->sessionController()->currentMac(), [](bool submitted) {
            Log::i(std::string("Analytics submitted : ") + boolText(submitted));
        });
    controller->start();
    // A controller that never reported its end still lets the gateway go.
    if (!state->completed) {
        state->release();
        self->setIsBusy(false);
    }
}

// "The operation couldn’t be completed. (QZEnhanced.CommError error 0.)"
std::string localizedDescription(CommError error) {
    return "The operation couldn\u2019t be completed. (QZEnhanced.CommError error " +
           std::to_string(static_cast<int>(error)) + ".)";
}

// The bus key as a decimal integer, or none.
std::optional<int64_t> busKey(const std::optional<std::string>& text) {
    if (!text || text->empty()) return std::nullopt;
    int64_t value = 0;
    const char* end = text->data() + text->size();
    auto [ptr, ec] = std::from_chars(text->data(), end, value);
    if (ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

}  // namespace

bool Gateway::supportsEnhancedDiagnostics(const std::string& vin) {
    vehicle_->setCurrentVin(vin);
    return vehicle_->activeEnhancedProtocol() != EnhancedProtocolManufacturer::Unknown;
}

void Gateway::performScan(std::optional<std::string> vin, PelkScanType scanType,
                          ScanListener listener) {
    if (!listener) listener = [](PelkScanProgress) {};
    Log::PublicFuncCall({"vin:" + vin.value_or("nil"), "scanType: " + describe(scanType),
                         "listener:" + describe(listener)});
    Log::i("Requesting scan with vin: " + vin.value_or("N/A") + " and type: " + describe(scanType));
    // Taken here, at the call: a second scan asked for before the first one runs is refused.
    if (!tryBeginBusy()) {
        listener(PelkScanProgress::error(PelkScanError::deviceBusy()));
        return;
    }
    std::weak_ptr<Gateway> weak = weak_from_this();
    gatewayQueue()->async([weak, vin = std::move(vin), scanType, listener = std::move(listener)] {
        runScan(weak, vin, scanType, listener);
    });
}

void Gateway::clearModule(std::shared_ptr<PelkModule> module, ClearListener listener) {
    if (!listener) listener = [](PelkClearResult) {};
    const std::string text = module ? module->description() : "nil";
    Log::PublicFuncCall({"module:" + text, "listener:" + describe(listener)});
    Log::i("Requested to clear moduele: " + text);
    auto busy = [&] {
        Log::PublicError("Could not clear module, device busy");
        listener(PelkClearResult::error(PelkClearError::deviceBusy()));
    };
    if (isBusy()) return busy();
    if (!sensorConnected(*this)) {
        Log::PublicError("Could not clear modules, disconncted from sensor");
        listener(PelkClearResult::error(PelkClearError::disconnected()));
        return;
    }
    auto record = InstanceStorage::record(module);
    if (!record) {
        Log::PublicError("Could not clear moule as no scan has been performed in this session");
        listener(PelkClearResult::error(PelkClearError::notScanned()));
        return;
    }
    if (!tryBeginBusy()) return busy();
    std::weak_ptr<Gateway> weak = weak_from_this();
    auto gatewayGone = [](const ClearListener& listener) {
        Log::PublicError("Clear requested, but gateway is nil");
        listener(PelkClearResult::error(PelkClearError::disconnected()));
    };

    if (record->accronym() == "OBD") {
        // The generic clear does not hold the busy flag while it waits on the queue.
        gatewayQueue()->async([weak, listener, gatewayGone] {
            auto self = weak.lock();
            if (!self) return gatewayGone(listener);
            auto reply = self->relay()->sendToSensor("KQCC", false, 0);
            self.reset();
            if (!reply) {
                listener(PelkClearResult::error(
                    PelkClearError::communication(localizedDescription(reply.error()))));
                return;
            }
            // A refusal or an error word is no clear: the codes are still there.
            const bool cleared =
                genericClearConfirmed(*reply, QZEVehicle::TheVehicle().displayForm());
            if (!cleared) {
                std::string shown = *reply;
                std::replace(shown.begin(), shown.end(), '\r', ' ');
                Log::PublicError("Generic clear refused by the sensor: " + shown);
            }
            listener(PelkClearResult::complete(cleared));
        });
        setIsBusy(false);
        return;
    }

    const auto bus = busKey(record->busType());
    if (!bus) {
        Log::PublicError("Could not clear module, its bus type is not a number: " +
                         record->busType().value_or("nil"));
        setIsBusy(false);
        listener(PelkClearResult::complete(false));
        return;
    }
    auto scanner = std::make_shared<QZEModuleScanner>();
    gatewayQueue()->async([weak, scanner, record, bus = *bus, listener, gatewayGone]() mutable {
        auto self = weak.lock();
        if (!self) return gatewayGone(listener);
        bool result = false;
        if (scanner->prepareForClear()) {
            result = scanner->clearModule(record, bus);
            scanner.reset();
        } else {
            Log::PublicError("Prepare for clear failed, communication error");
        }
        // Free before reporting, so the listener may start the next operation.
        self->setIsBusy(false);
        self.reset();
        listener(PelkClearResult::complete(result));
    });
}

}  // namespace qz
