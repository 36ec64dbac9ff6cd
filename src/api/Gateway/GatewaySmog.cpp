// The emissions-readiness family. The check itself is not wired yet: it refuses while
// another operation holds the busy flag and otherwise answers, from "GatewayQueue", that no
// initialised sensor is connected.

#include "api/Gateway/Gateway.hpp"
#include "api/Logging/Log.hpp"
#include "platform/Describe.hpp"

namespace qz {

void Gateway::requestSmogInfo(SmogListener listener) {
    Log::PublicFuncCall({"listener:" + describe(listener)});
    if (!tryBeginBusy()) {
        Log::e("Could not request smog info, device is busy");
        if (listener) listener(std::unexpected(SmogInfoError::deviceBusy));
        return;
    }
    std::weak_ptr<Gateway> weak = weak_from_this();
    gatewayQueue()->async([weak, listener] {
        if (auto self = weak.lock()) self->setIsBusy(false);
        if (listener) listener(std::unexpected(SmogInfoError::notConnected));
    });
}

}  // namespace qz
