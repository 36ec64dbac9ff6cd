#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qz {

// A vehicle's identity as the backend and the VIN database describe it.
struct YMME {
    // Each part is absent when unknown.
    std::optional<std::string> vin;
    std::optional<std::string> make;
    std::optional<std::string> model;
    std::optional<std::string> engine;
    std::optional<std::string> series;
    std::optional<int64_t> year;

    // Equal when every part is.
    bool operator==(const YMME&) const = default;

    // "[YMME: VIN: ..., Make: ..., ...]" listing only the present fields.
    std::string description() const;
};

// The value's description().
std::string describe(const YMME& ymme);

}  // namespace qz
