#pragma once

#include <string>

namespace qz {

// Implemented by the host app to receive the library's public log lines (plain
// text, no line end). Called on whichever thread logged.
class GatewayLoggerDelegate {
  public:
    virtual ~GatewayLoggerDelegate() = default;
    virtual void receivedLog(const std::string& string) = 0;
};

}  // namespace qz
