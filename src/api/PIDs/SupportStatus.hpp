#pragma once

#include <string_view>

namespace qz {

// Whether the vehicle supports a parameter.
enum class SupportStatus { supported, unsupported, unknown };

// The case name, as texts show it ("supported", "unsupported", "unknown").
constexpr std::string_view caseName(SupportStatus s) {
    switch (s) {
        case SupportStatus::supported:
            return "supported";
        case SupportStatus::unsupported:
            return "unsupported";
        case SupportStatus::unknown:
            break;
    }
    return "unknown";
}

}  // namespace qz
