#pragma once

#include <memory>
#include <string>
#include <vector>

#include "api/Communication/CommError.hpp"
#include "api/Communication/PelkError.hpp"
#include "api/Live/SmogInfoError.hpp"
#include "api/Scan/PelkScanProgress.hpp"

namespace qz::tools {

// Why an operation failed, in words a mechanic reads; the enum's name stays in --json.
std::string reason(CommError error);
std::string reason(const PelkError& error);
std::string reason(SmogInfoError error);
std::string reason(const PelkClearError& error);
// The opening of a failed scan's sentence: "the scan could not read everything: communication
// error".
std::string reason(PelkScanError::Kind kind);

// What a command says of a link that went away while it ran.
inline constexpr const char* kLinkDropped = "the link to the sensor dropped";

// The recovery-mode message every command ends with.
inline constexpr const char* kRecoveryText =
    "the sensor is in firmware recovery mode: update its firmware first";

// The engine's lines that say why a scan did not read everything (a set-up the sensor refused,
// a module read in part, a failed generic read, no vehicle bus), and the library's public line
// that says why a smog check gave no verdict, noted while a command runs. Every line still goes
// on to the library's log.
class EngineNotes {
  public:
    // Listens to the engine's log from now on, in front of the adapter the gateway registered,
    // and to the library's public lines (as the host's GatewayLogger delegate).
    static std::shared_ptr<EngineNotes> listen();

    // Forgets what was noted (before a scan).
    void clear();
    // What was noted since the last clear, each once, in order: "the sensor refused the set-up
    // command KQSP<".
    std::vector<std::string> notes() const;

    class Adapter;

  private:
    std::shared_ptr<Adapter> adapter_;
};

}  // namespace qz::tools
