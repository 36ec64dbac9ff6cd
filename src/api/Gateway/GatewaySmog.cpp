// The emissions-readiness family: one check per call, on "GatewayQueue", reported once.

#include "api/Communication/Relay.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/Gateway/Gateway.hpp"
#include "api/Live/SmogInfoRetriever.hpp"
#include "api/Logging/Log.hpp"
#include "platform/Describe.hpp"

namespace qz {

namespace {

// The result as the completion line prints it.
std::string printed(const Result<std::shared_ptr<SmogInfoReport>, SmogInfoError>& result) {
    if (result) return "success(" + (*result)->description() + ")";
    return "failure(QZEnhanced.SmogInfoError." + describe(result.error()) + ")";
}

}  // namespace

void Gateway::requestSmogInfo(SmogListener listener) {
    Log::PublicFuncCall({"listener:" + describe(listener)});
    Log::PublicInfo("Performing smog check");
    if (isBusy()) {
        Log::PublicError("Smog check failed");
        if (listener) listener(std::unexpected(SmogInfoError::deviceBusy));
        return;
    }
    std::weak_ptr<Gateway> weak = weak_from_this();
    gatewayQueue()->async([weak, listener = std::move(listener)] {
        auto self = weak.lock();
        if (!self) {
            Log::PublicError("Smog check requested, but gateway is nil");
            if (listener) listener(std::unexpected(SmogInfoError::setupFailed));
            return;
        }
        // A sensor that was connected once stays the active one after a disconnect; without
        // an open session the check could only time out.
        if (!self->relay()->bt() || !self->relay()->bt()->activeSensor() ||
            self->status() != SensorConnectionStatus::connected) {
            Log::PublicError("Smog check requested, but no sensor is connected");
            if (listener) listener(std::unexpected(SmogInfoError::notConnected));
            return;
        }
        // A scan asked for meanwhile already holds the flag: it is not this check's to clear.
        const bool took = self->tryBeginBusy();
        SmogInfoRetriever retriever(self->vehicle());
        auto result = retriever.retrieveSmogStatus();
        if (took) self->setIsBusy(false);
        self.reset();
        // What kept it from a verdict: the result's case alone does not say.
        if (!result && !retriever.failures().empty()) {
            std::string causes;
            for (const auto& cause : retriever.failures())
                causes += (causes.empty() ? "" : "; ") + cause;
            Log::PublicError("Smog check gave no verdict: " + causes);
        }
        Log::PublicInfo("Smog Check complete, result :" + printed(result));
        if (listener) listener(std::move(result));
    });
}

}  // namespace qz
