#pragma once

#include <string_view>

namespace qz {

// Kind of value a parameter carries.
enum class PIDCategory { other, numeric, string, boolean };

// The case name ("other", "numeric", ...).
constexpr std::string_view caseName(PIDCategory c) {
    switch (c) {
        case PIDCategory::numeric:
            return "numeric";
        case PIDCategory::string:
            return "string";
        case PIDCategory::boolean:
            return "boolean";
        case PIDCategory::other:
            break;
    }
    return "other";
}

}  // namespace qz
