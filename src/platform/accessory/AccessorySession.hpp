#pragma once

#include <memory>
#include <string>

#include "platform/accessory/Accessory.hpp"
#include "platform/accessory/Stream.hpp"

namespace qz {

// A session with an accessory over one of its protocols (the framework's EASession):
// a pair of streams whose far ends belong to the accessory's device.
class AccessorySession {
  public:
    // Null when the accessory is not connected, does not list `protocol`, or its device
    // refuses the session.
    static std::shared_ptr<AccessorySession> create(std::shared_ptr<Accessory> accessory,
                                                    const std::string& protocol);
    ~AccessorySession();
    AccessorySession(const AccessorySession&) = delete;
    AccessorySession& operator=(const AccessorySession&) = delete;

    const std::shared_ptr<Accessory>& accessory() const { return accessory_; }
    const std::string& protocolString() const { return protocol_; }
    const std::shared_ptr<InputStream>& inputStream() const { return input_; }
    const std::shared_ptr<OutputStream>& outputStream() const { return output_; }
    std::string description() const;

  private:
    AccessorySession(std::shared_ptr<Accessory> accessory, std::string protocol);

    std::shared_ptr<Accessory> accessory_;
    std::string protocol_;
    std::shared_ptr<InputStream> input_;
    std::shared_ptr<OutputStream> output_;
};

}  // namespace qz
