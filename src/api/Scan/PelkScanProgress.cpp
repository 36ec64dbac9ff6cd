#include "api/Scan/PelkScanProgress.hpp"

namespace qz {

std::string describe(PelkScanError::Kind kind) {
    using K = PelkScanError::Kind;
    switch (kind) {
        case K::timeout:
            return "timeout";
        case K::general:
            return "general";
        case K::disconnected:
            return "disconnected";
        case K::communicaton:
            return "communicaton";
        case K::enhancedUnsupported:
            return "enhancedUnsupported";
        case K::errorLoading:
            return "errorLoading";
        case K::deviceBusy:
            return "deviceBusy";
        case K::notInitialized:
            return "notInitialized";
    }
    return "unknown";
}

std::string describe(const PelkScanError& error) {
    return describe(error.kind());
}

std::string describe(const PelkClearError& error) {
    using K = PelkClearError::Kind;
    switch (error.kind()) {
        case K::communication:
            return "communication";
        case K::notScanned:
            return "notScanned";
        case K::disconnected:
            return "disconnected";
        case K::deviceBusy:
            return "deviceBusy";
    }
    return "unknown";
}

std::string describe(const PelkClearResult& result) {
    if (result.kind() == PelkClearResult::Kind::complete)
        return std::string("complete(result: ") + (result.result() ? "true" : "false") + ")";
    return "error(" + (result.error() ? describe(*result.error()) : "nil") + ")";
}

}  // namespace qz
