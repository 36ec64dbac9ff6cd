#pragma once

#include <iostream>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace qz::tools {

// qzdiag's exit statuses (also in its --help and the README).
inline constexpr int kSuccess = 0;
// The operation failed: no sensor, a read, scan, clear or configuration that did not work.
inline constexpr int kFailed = 1;
// The sensor is in firmware recovery mode: it must be updated before it can be used.
inline constexpr int kRecovery = 2;
// Bad command line (sysexits' EX_USAGE).
inline constexpr int kUsage = 64;

// Prints a failure on standard error, with `json` one document too ("command" null when there
// is none, "kind" when given); the exit status.
inline int printFailure(bool json, const std::string& command, const std::string& message,
                        int status, const std::optional<std::string>& kind = std::nullopt) {
    if (json) {
        nlohmann::json doc{{"command", nullptr}, {"ok", false}, {"error", message}};
        if (!command.empty()) doc["command"] = command;
        if (kind) doc["kind"] = *kind;
        std::cout << doc.dump(2) << "\n";
    }
    std::cerr << "qzdiag: " << message << "\n";
    return status;
}

// A bad command line ("kind": "usage").
inline int usageError(bool json, const std::string& command, const std::string& message) {
    return printFailure(json, command, message, kUsage, "usage");
}

}  // namespace qz::tools
