#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/accessory/Accessory.hpp"

namespace qz {

// Posted on the main queue while someone is registered for local notifications; the
// accessory is under kAccessoryKey in the user info (as std::shared_ptr<Accessory>).
inline constexpr const char* kAccessoryDidConnectNotification = "EAAccessoryDidConnectNotification";
inline constexpr const char* kAccessoryDidDisconnectNotification =
    "EAAccessoryDidDisconnectNotification";
inline constexpr const char* kAccessoryKey = "EAAccessoryKey";

// The list of connected accessories (the framework's EAAccessoryManager). Transport
// backends and the simulator attach and detach accessories.
class AccessoryManager {
  public:
    static AccessoryManager& shared();

    // In connection order.
    std::vector<std::shared_ptr<Accessory>> connectedAccessories() const;
    void registerForLocalNotifications();
    void unregisterForLocalNotifications();

    // The device side: an accessory connects / goes away. Detaching ends the streams of its
    // sessions. Both post their notification (see above).
    void attach(const std::shared_ptr<Accessory>& accessory);
    void detach(const std::shared_ptr<Accessory>& accessory);

    // A fresh connection identifier.
    static int64_t nextConnectionID();

  private:
    AccessoryManager() = default;
    void notify(const char* name, const std::shared_ptr<Accessory>& accessory);

    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Accessory>> connected_;
    std::atomic<int> registrations_{0};
};

}  // namespace qz
