#include "api/Communication/PelkError.hpp"

#include "platform/Describe.hpp"

namespace qz {

std::string PelkError::description() const {
    switch (kind_) {
        case Kind::general:
            return "general(description: " + qz::quoted(description_) +
                   ", code: " + std::to_string(code_) + ")";
        case Kind::dataError:
            return "dataError";
        case Kind::initialization:
            return "initialization";
        case Kind::callbackDeallocated:
            return "callbackDeallocated";
        case Kind::notConnected:
            return "notConnected";
        case Kind::deviceBusy:
            return "deviceBusy";
    }
    return "unknown";
}

std::string describe(const PelkError& error) {
    return error.description();
}

}  // namespace qz
