#include "api/Firmware/FirmwareError.hpp"

namespace qz {

std::string FirmwareError::description() const {
    switch (kind_) {
        case Kind::general:
            return "general(" + std::to_string(code_) + ", \"" + text_ + "\")";
        case Kind::invalidResponse:
            return "invalidResponse(" + std::to_string(code_) + ")";
        case Kind::invalidPayload:
            return "invalidPayload";
        case Kind::invalidArguments:
            return "invalidArguments";
        case Kind::unknown:
            return "unknown";
        case Kind::notSupported:
            return "notSupported";
    }
    return "unknown";
}

std::string describe(const FirmwareError& error) {
    return error.description();
}

}  // namespace qz
