#pragma once

#include <mutex>
#include <string>

namespace qz {

// A server address set at run time in place of the configured one; safe to read and set from
// any thread.
class HostOverride {
  public:
    // The address set, empty when none is.
    std::string value() const;
    // Sets the address without its trailing slashes (empty: none).
    void set(const std::string& address);

    // `address` without its trailing slashes.
    static std::string withoutTrailingSlashes(std::string address);

  private:
    mutable std::mutex mutex_;
    std::string value_;
};

}  // namespace qz
