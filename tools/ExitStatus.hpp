#pragma once

#include <iostream>
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

// A bad command line: said on standard error; with `json` one document too ("kind": "usage").
inline int usageError(bool json, const std::string& command, const std::string& message) {
    if (json) {
        nlohmann::json doc{
            {"command", nullptr}, {"ok", false}, {"error", message}, {"kind", "usage"}};
        if (!command.empty()) doc["command"] = command;
        std::cout << doc.dump(2) << "\n";
    }
    std::cerr << "qzdiag: " << message << "\n";
    return kUsage;
}

}  // namespace qz::tools
