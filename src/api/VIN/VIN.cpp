#include "api/VIN/VIN.hpp"

#include <algorithm>
#include <cctype>
#include <mutex>

#include "platform/Text.hpp"

namespace qz {

namespace {

constexpr const char* kUnknown = "Unknown";
constexpr std::size_t kVinLength = 17;

struct YearRange {
    char first;
    char last;
    int base;
};

// First range holding the code decides: year = base + (code - first).
constexpr YearRange kYearRanges[] = {
    {'A', 'I', 2010}, {'I', 'O', 2017}, {'O', 'Q', 1992},
    {'Q', 'U', 1993}, {'U', 'Z', 1996}, {'1', '9', 2001},
};

bool isAsciiLetter(const std::string& character) {
    return character.size() == 1 && std::isalpha(static_cast<unsigned char>(character[0]));
}

std::optional<std::string> wmiLookup(const std::optional<std::string>& vin, bool wantParent) {
    if (!vin) return std::nullopt;
    const auto characters = text::split(*vin, 1);
    if (characters.size() != kVinLength) return std::nullopt;
    std::string wmi = characters[0] + characters[1] + characters[2];
    std::transform(wmi.begin(), wmi.end(), wmi.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const auto& table = VIN::wmiTable();
    if (!table) return std::nullopt;
    return VIN::lookup(*table, wmi, wantParent);
}

}  // namespace

void from_json(const nlohmann::json& j, VinMap& map) {
    auto optionalText = [&](const char* key) -> std::optional<std::string> {
        auto it = j.find(key);
        if (it == j.end() || it->is_null()) return std::nullopt;
        return it->get<std::string>();
    };
    map.manufacturerName = optionalText("manufacturerName");
    map.parent = optionalText("parent");
    map.entry = j.at("entry").get<std::vector<std::string>>();
    map.edType = optionalText("edType");
}

void to_json(nlohmann::json& j, const VinMap& map) {
    j = nlohmann::json::object();
    if (map.manufacturerName) j["manufacturerName"] = *map.manufacturerName;
    if (map.parent) j["parent"] = *map.parent;
    j["entry"] = map.entry;
    if (map.edType) j["edType"] = *map.edType;
}

std::vector<uint8_t> asciiValues(std::string_view text) {
    std::vector<uint8_t> codes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) continue;  // bytes of non-ASCII characters
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            codes.push_back('\n');
            ++i;
            continue;
        }
        codes.push_back(c);
    }
    return codes;
}

Result<int, VINError> VIN::year(const std::optional<std::string>& vin) {
    if (!vin) return std::unexpected(VINError::wrongLength);
    const auto characters = text::split(*vin, 1);
    if (characters.size() != kVinLength) return std::unexpected(VINError::wrongLength);

    const auto codes = asciiValues(characters[9]);
    if (codes.empty()) return 1996;
    const char c = static_cast<char>(codes.front());
    for (const auto& range : kYearRanges) {
        if (c < range.first || c > range.last) continue;
        int year = range.base + (c - range.first);
        // The letters P to Y came round again from 2023; a letter in position 7 tells the
        // newer cycle.
        if (c >= 'P' && c <= 'Y' && isAsciiLetter(characters[6])) year += 30;
        return year;
    }
    return -1;
}

std::string VIN::parentString(const std::optional<std::string>& vin) {
    return wmiLookup(vin, true).value_or(kUnknown);
}

std::string VIN::manufacturerName(const std::optional<std::string>& vin) {
    return wmiLookup(vin, false).value_or(kUnknown);
}

const std::optional<std::vector<VinMap>>& VIN::wmiTable() {
    static const std::optional<std::vector<VinMap>> table = decodeTable(kWMITableJSON);
    return table;
}

std::optional<std::vector<VinMap>> VIN::decodeTable(std::string_view json) {
    try {
        return nlohmann::json::parse(json).get<std::vector<VinMap>>();
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

std::optional<std::string> VIN::lookup(const std::vector<VinMap>& table, std::string_view wmi,
                                       bool wantParent) {
    for (const auto& record : table) {
        if (std::find(record.entry.begin(), record.entry.end(), wmi) == record.entry.end()) {
            continue;
        }
        const auto& field = wantParent ? record.parent : record.manufacturerName;
        if (field) return field;
    }
    return std::nullopt;
}

}  // namespace qz
