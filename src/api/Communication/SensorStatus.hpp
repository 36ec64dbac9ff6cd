#pragma once

#include <string>

namespace qz {

// What a session reports about the link: open, closed, or it did not open.
enum class SensorConnectionStatus { connected = 0, disconnected = 1, errorOpeningConnection = 2 };

// What a session reports about a sensor's presence.
enum class BroadcastStatus { appeared = 0, disappeared = 1 };

// The outcome of a sensor's start-up after the link opened: it takes commands, it did not
// answer its start-up, or it is in firmware recovery mode (it needs a firmware update).
enum class PelkSensorStatus { initialized = 0, initializationFailed = 1, recoveryMode = 2 };

// The case names ("connected", "appeared", "recoveryMode", ...).
std::string describe(SensorConnectionStatus status);
std::string describe(BroadcastStatus status);
std::string describe(PelkSensorStatus status);

}  // namespace qz
