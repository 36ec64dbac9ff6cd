#pragma once

#include <cstdint>
#include <optional>

namespace qz {

// OBD-II service of a request.
enum class Mode : int64_t {
    LiveData = 1,     // service 01, current data
    VehicleInfo = 9,  // service 09, vehicle information
};

// The mode with the given raw value, or none.
constexpr std::optional<Mode> modeFromRawValue(int64_t raw) {
    if (raw == 1) return Mode::LiveData;
    if (raw == 9) return Mode::VehicleInfo;
    return std::nullopt;
}

// The service number (1 or 9).
constexpr int64_t rawValue(Mode m) {
    return static_cast<int64_t>(m);
}

}  // namespace qz
