#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace qz {

// One repair the backend knows for a trouble code of the vehicle.
struct RepairProcedure {
    std::string dtc;
    std::string title;
    std::optional<std::string> description;
    std::optional<std::string> url;
    std::optional<double> laborHours;

    bool operator==(const RepairProcedure&) const = default;
};

// The result of the repair-information lookup for a VIN and its codes.
struct RepairAsset {
    std::string vin;
    std::vector<RepairProcedure> repairs;

    bool operator==(const RepairAsset&) const = default;
};

// JSON coding: {"vin": "...", "repairs": [{"dtc", "title", "description"?, "url"?,
// "laborHours"?}]}. Decoding throws nlohmann::json::exception on missing or mistyped fields.
void from_json(const nlohmann::json& j, RepairProcedure& value);
void to_json(nlohmann::json& j, const RepairProcedure& value);
void from_json(const nlohmann::json& j, RepairAsset& value);
void to_json(nlohmann::json& j, const RepairAsset& value);

}  // namespace qz
