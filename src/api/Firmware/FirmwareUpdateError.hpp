#pragma once

#include <string>

namespace qz {

// Why a firmware update failed.
enum class FirmwareUpdateError {
    malformedPayload,
    firmwareNotDownloaded,
    setupFailed,
    timeOut,
    notConnected,
    unexpectedDisconnect,
};

// The case name.
std::string describe(FirmwareUpdateError error);

}  // namespace qz
