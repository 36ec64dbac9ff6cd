#pragma once

#include <functional>
#include <memory>

#include "api/Communication/PelkSensor.hpp"
#include "api/Communication/SensorStatus.hpp"

namespace qz {

// A session's connection status callback.
using StatusListener = std::function<void(SensorConnectionStatus)>;
// A session's appear/disappear callback.
using BroadcastListener = std::function<void(std::shared_ptr<PelkSensor>, BroadcastStatus)>;

}  // namespace qz
