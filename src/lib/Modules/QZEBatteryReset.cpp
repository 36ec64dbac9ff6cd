#include "lib/Modules/QZEBatteryReset.hpp"

#include "lib/Facades/QZEVehicle.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"
#include "platform/Locked.hpp"

namespace qz {

std::optional<std::string> QZEBatteryResetResult::message() const {
    return lockedCopy(mutex_, message_);
}

void QZEBatteryResetResult::setMessage(std::optional<std::string> value) {
    lockedAssign(mutex_, message_, std::move(value));
}

std::string QZEBatteryReset::send(const std::string& cmd) {
    QZECommandReply reply;
    for (int sends = 0; sends < 3; ++sends) {
        reply = QZEVehicle::TheVehicle().sendCommand(cmd);
        if (!reply.cutShort && !reply::holdsNoData(reply.text)) break;
    }
    return reply.text;
}

std::shared_ptr<QZEBatteryResetResult> QZEBatteryReset::resetToDefaultsWithResult(
    std::shared_ptr<QZEBatteryResetResult> result) {
    send("KQCM7F8");
    send("KQD");
    QZEVehicle::TheVehicle().resetSesorResponseTime();
    return result;
}

std::vector<std::string> QZEBatteryReset::responseToArray(std::string_view reply) {
    return QZEBaseDiagnosticModule::cleanResponseString(reply);
}

}  // namespace qz
