#pragma once

#include <any>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/accessory/Stream.hpp"

namespace qz {

// The device behind an accessory (a transport backend or the simulator).
class AccessoryDevice {
  public:
    virtual ~AccessoryDevice() = default;
    // A session opens on `protocol`: the device writes to `toHost` and reads what the host
    // writes to `fromHost` (through the output stream's sink). False refuses the session.
    virtual bool sessionOpened(const std::string& protocol,
                               const std::shared_ptr<InputStream>& toHost,
                               const std::shared_ptr<OutputStream>& fromHost) = 0;
    // The session ended (the host released it).
    virtual void sessionClosed() = 0;
};

// A connected external accessory (the ExternalAccessory framework's EAAccessory).
// Accessories are compared by identity.
class Accessory {
  public:
    Accessory(int64_t connectionID, std::string name, std::vector<std::string> protocolStrings,
              std::map<std::string, std::any> values, std::shared_ptr<AccessoryDevice> device);

    int64_t connectionID() const { return connectionID_; }
    const std::string& name() const { return name_; }
    const std::vector<std::string>& protocolStrings() const { return protocolStrings_; }
    // Key-value lookup ("macAddress"); an empty value when there is none.
    std::any valueForKey(const std::string& key) const;
    bool isConnected() const;
    const std::shared_ptr<AccessoryDevice>& device() const { return device_; }
    std::string description() const;

  private:
    friend class AccessoryManager;
    friend class AccessorySession;
    void setConnected(bool connected);
    void addStreams(std::weak_ptr<InputStream> in, std::weak_ptr<OutputStream> out);
    void endStreams();

    const int64_t connectionID_;
    const std::string name_;
    const std::vector<std::string> protocolStrings_;
    const std::map<std::string, std::any> values_;
    const std::shared_ptr<AccessoryDevice> device_;

    mutable std::mutex mutex_;
    bool connected_ = false;
    std::vector<std::weak_ptr<InputStream>> inputs_;
    std::vector<std::weak_ptr<OutputStream>> outputs_;
};

// The text of a protocol list: ["a", "b"].
std::string describe(const std::vector<std::string>& protocols);

}  // namespace qz
