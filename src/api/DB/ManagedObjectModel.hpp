#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qz {

// The shape of a persistent store: its entities and their attributes. Each entity
// becomes one table with an integer primary key "id" and one column per attribute.
struct ManagedObjectModel {
    enum class AttributeType { text, integer, real, blob };
    struct Attribute {
        std::string name;
        AttributeType type;
    };
    struct Entity {
        std::string name;
        std::vector<Attribute> attributes;
    };

    std::string name;
    std::vector<Entity> entities;

    // The library's models by name: "AnalyticsEvent" (the cached analytics events);
    // nullopt for any other name.
    static std::optional<ManagedObjectModel> named(const std::string& name);
};

}  // namespace qz
