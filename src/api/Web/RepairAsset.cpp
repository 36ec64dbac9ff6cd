#include "api/Web/RepairAsset.hpp"

#include <nlohmann/json.hpp>

namespace qz {

namespace {
template <class T>
void optionalField(const nlohmann::json& j, const char* key, std::optional<T>& out) {
    auto it = j.find(key);
    if (it == j.end() || it->is_null())
        out.reset();
    else
        out = it->template get<T>();
}
}  // namespace

void from_json(const nlohmann::json& j, RepairProcedure& value) {
    value.dtc = j.at("dtc").get<std::string>();
    value.title = j.at("title").get<std::string>();
    optionalField(j, "description", value.description);
    optionalField(j, "url", value.url);
    optionalField(j, "laborHours", value.laborHours);
}

void to_json(nlohmann::json& j, const RepairProcedure& value) {
    j = nlohmann::json{{"dtc", value.dtc}, {"title", value.title}};
    if (value.description) j["description"] = *value.description;
    if (value.url) j["url"] = *value.url;
    if (value.laborHours) j["laborHours"] = *value.laborHours;
}

void from_json(const nlohmann::json& j, RepairAsset& value) {
    value.vin = j.at("vin").get<std::string>();
    value.repairs = j.at("repairs").get<std::vector<RepairProcedure>>();
}

void to_json(nlohmann::json& j, const RepairAsset& value) {
    j = nlohmann::json{{"vin", value.vin}, {"repairs", value.repairs}};
}

}  // namespace qz
