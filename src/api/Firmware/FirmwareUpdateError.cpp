#include "api/Firmware/FirmwareUpdateError.hpp"

namespace qz {

std::string describe(FirmwareUpdateError error) {
    switch (error) {
        case FirmwareUpdateError::malformedPayload:
            return "malformedPayload";
        case FirmwareUpdateError::firmwareNotDownloaded:
            return "firmwareNotDownloaded";
        case FirmwareUpdateError::setupFailed:
            return "setupFailed";
        case FirmwareUpdateError::timeOut:
            return "timeOut";
        case FirmwareUpdateError::notConnected:
            return "notConnected";
        case FirmwareUpdateError::unexpectedDisconnect:
            return "unexpectedDisconnect";
    }
    return "unknown";
}

}  // namespace qz
