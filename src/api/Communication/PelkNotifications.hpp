#pragma once

namespace qz {

// Names of the notifications the library's parts post to each other on the
// default notification centre.
struct PelkNotifications {
    // The relay's fifth empty time-out in a row.
    static constexpr const char* SENSOR_TIMEDOUT = "DeviceTimedOut";
    // A connection starts.
    static constexpr const char* SENSOR_CONNECT_STARTED = "DeviceConnectStarted";
    // A link closed.
    static constexpr const char* SENSOR_DISCONNECTED = "DeviceDisconnected";
    // A module procedure needs the user; the message is under the user-info key "msg".
    static constexpr const char* INTERACTION_REQUIRED = "PelkInteractionRequired";
};

}  // namespace qz
