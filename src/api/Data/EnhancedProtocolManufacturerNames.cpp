#include "api/Data/EnhancedProtocolManufacturerNames.hpp"

#include <map>

namespace qz {

std::string name(EnhancedProtocolManufacturer make) {
    return enhancedProtocolManufacturerName(static_cast<int64_t>(make));
}

std::string enhancedProtocolManufacturerName(int64_t make) {
    static const char* const names[] = {"Unknown", "GM",     "Chrysler",   "Ford",       "Toyota",
                                        "BMW",     "Nissan", "Honda",      "VOLKSWAGEN", "Mercedes",
                                        "Hyundai", "Mazda",  "Mitsubishi", "Subaru"};
    if (make < 0 || make >= static_cast<int64_t>(std::size(names))) return names[0];
    return names[make];
}

EnhancedProtocolManufacturer enhancedProtocolManufacturerFrom(
    const std::optional<std::string>& parentName) {
    using M = EnhancedProtocolManufacturer;
    static const std::map<std::string, M> parents = {
        {"BMW", M::BMW},
        {"Chrysler", M::Chrysler},
        {"Daimler", M::Mercedes},
        {"Ford", M::Ford},
        {"GM", M::GM},
        {"Honda", M::Honda},
        {"Hyundai", M::Hyundai},
        {"Mazda", M::Mazda},
        {"Mitsubishi", M::Mitsubishi},
        {"Renault", M::Nissan},
        {"Subaru", M::Subaru},
        {"Toyota", M::Toyota},
        {"VOLKSWAGEN", M::VOLKSWAGEN},
    };
    if (!parentName) return M::Unknown;
    auto it = parents.find(*parentName);
    return it == parents.end() ? M::Unknown : it->second;
}

}  // namespace qz
