#pragma once

#include <string>

namespace qz {

// Implemented by the host app to receive the library's public log lines (every public call, its
// public information and errors), installed with GatewayLogger::setDelegate.
class GatewayLoggerDelegate {
  public:
    virtual ~GatewayLoggerDelegate() = default;
    // One line, plain text without line end, right after it was written to the log file. Called
    // on whichever thread logged, at any time: it should return quickly, and must not call the
    // library's public operations (each logs a line, which would come back here).
    virtual void receivedLog(const std::string& string) = 0;
};

}  // namespace qz
