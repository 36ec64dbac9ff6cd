#pragma once

#include <filesystem>

#include "api/Logging/Log.hpp"
#include "platform/FileSystem.hpp"

namespace qz::testsupport {

// A fresh home that takes the log file with it: the process-wide log, opened in the home by the
// first line written, is let go before the home is removed, so that no later line makes the
// removed folder again. For tests that use several homes one after the other.
class HomeWithLog {
  public:
    ~HomeWithLog() { Log::reset(); }
    const std::filesystem::path& path() const { return home_.path(); }

  private:
    ScopedHome home_;
};

}  // namespace qz::testsupport
