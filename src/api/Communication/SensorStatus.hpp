#pragma once

#include <string>

namespace qz {

// What a session reports about the link.
enum class SensorConnectionStatus { connected = 0, disconnected = 1, errorOpeningConnection = 2 };

// What a session reports about a sensor's presence.
enum class BroadcastStatus { appeared = 0, disappeared = 1 };

// The outcome of a sensor's start-up after the link opened.
enum class PelkSensorStatus { initialized = 0, initializationFailed = 1, recoveryMode = 2 };

// The case names.
std::string describe(SensorConnectionStatus status);
std::string describe(BroadcastStatus status);
std::string describe(PelkSensorStatus status);

}  // namespace qz
