#pragma once

#include <optional>
#include <string>

#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

// Display name of a make number: "GM", "Chrysler", ..., "Unknown" for 0 and unlisted numbers.
std::string name(EnhancedProtocolManufacturer make);
std::string enhancedProtocolManufacturerName(int64_t make);

// The make for a VIN maker group name as VIN::parentString gives it (exact, case-sensitive);
// Unknown for no name or any other name.
EnhancedProtocolManufacturer enhancedProtocolManufacturerFrom(
    const std::optional<std::string>& parentName);

}  // namespace qz
