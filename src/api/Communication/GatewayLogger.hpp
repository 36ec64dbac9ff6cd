#pragma once

#include <memory>
#include <string>

#include "api/Delegates/GatewayLoggerDelegate.hpp"

namespace qz {

// Holds the host app's receiver of the library's public log lines.
class GatewayLogger {
  public:
    GatewayLogger() = delete;  // static members only

    // The installed delegate; none at start. Installing one (any thread) makes it receive
    // every public log line from then on; none stops them.
    static std::shared_ptr<GatewayLoggerDelegate> delegate();
    static void setDelegate(std::shared_ptr<GatewayLoggerDelegate> delegate);

    // Hands the line to the installed delegate on the calling thread; nothing
    // when none is installed.
    static void log(const std::string& line);
};

}  // namespace qz
