#include "api/Communication/WebError.hpp"

#include "platform/Describe.hpp"

namespace qz {

std::string WebError::description() const {
    switch (kind_) {
        case Kind::invalidParameter:
            return "invalidParameter(" + qz::quoted(text_) + ")";
        case Kind::general:
            return "general(code: " + std::to_string(code_) +
                   ", description: " + qz::quoted(text_) + ")";
        case Kind::unableToDecodeResponse:
            return "unableToDecodeResponse";
        case Kind::timeout:
            return "timeout";
        case Kind::invalidResponse:
            return "invalidResponse";
        case Kind::invalidParameters:
            return "invalidParameters";
    }
    return "unknown";
}

std::string describe(const WebError& error) {
    return error.description();
}

}  // namespace qz
