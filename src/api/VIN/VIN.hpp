#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Result.hpp"

namespace qz {

enum class VINError {
    wrongLength,  // no VIN, or not 17 characters
};

// One record of the WMI table.
struct VinMap {
    std::optional<std::string> manufacturerName;  // the make as shown, e.g. Chevrolet/Geo
    std::optional<std::string> parent;            // the maker group whose diagnostics apply
    std::vector<std::string> entry;               // the make's WMIs (required)
    std::optional<std::string> edType;
};

void from_json(const nlohmann::json& j, VinMap& map);
void to_json(nlohmann::json& j, const VinMap& map);

// The ASCII code of each ASCII character of the text, in order; other characters are skipped
// and a CR/LF pair counts as one character with code 10.
std::vector<uint8_t> asciiValues(std::string_view text);

// Model year and maker decoding of a 17-character VIN, from the VIN alone.
struct VIN {
    // Model year from the 10th character. A letter P to Y stands for 2023-2030 rather than
    // 1993-2000 when the 7th character is a letter (model years from 2010 on).
    static Result<int, VINError> year(const std::optional<std::string>& vin);

    // Maker group of the VIN's WMI, or "Unknown".
    static std::string parentString(const std::optional<std::string>& vin);

    // Make of the VIN's WMI, or "Unknown".
    static std::string manufacturerName(const std::optional<std::string>& vin);

    // The built-in table, decoded on first use; nullopt if it does not decode.
    static const std::optional<std::vector<VinMap>>& wmiTable();

    // Decodes a table text; nullopt when it is not an array of records that all carry "entry".
    static std::optional<std::vector<VinMap>> decodeTable(std::string_view json);

    // Looks the WMI up in the table; the first record listing it that has the wanted field
    // answers.
    static std::optional<std::string> lookup(const std::vector<VinMap>& table, std::string_view wmi,
                                             bool wantParent);

    static const char* const kWMITableJSON;
};

}  // namespace qz
