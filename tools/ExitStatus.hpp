#pragma once

namespace qz::tools {

// qzdiag's exit statuses (also in its --help and the README).
inline constexpr int kSuccess = 0;
// The operation failed: no sensor, a read, scan, clear or configuration that did not work.
inline constexpr int kFailed = 1;
// The sensor is in firmware recovery mode: it must be updated before it can be used.
inline constexpr int kRecovery = 2;
// Bad command line (sysexits' EX_USAGE).
inline constexpr int kUsage = 64;

}  // namespace qz::tools
