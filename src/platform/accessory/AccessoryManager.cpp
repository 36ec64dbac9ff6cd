#include "platform/accessory/AccessoryManager.hpp"

#include <algorithm>

#include "platform/DispatchQueue.hpp"
#include "platform/Locked.hpp"
#include "platform/NotificationCenter.hpp"

namespace qz {

AccessoryManager& AccessoryManager::shared() {
    static AccessoryManager* manager = new AccessoryManager();
    return *manager;
}

std::vector<std::shared_ptr<Accessory>> AccessoryManager::connectedAccessories() const {
    return lockedCopy(mutex_, connected_);
}

void AccessoryManager::registerForLocalNotifications() {
    ++registrations_;
}

void AccessoryManager::unregisterForLocalNotifications() {
    int n = registrations_.load();
    while (n > 0 && !registrations_.compare_exchange_weak(n, n - 1)) {
    }
}

void AccessoryManager::attach(const std::shared_ptr<Accessory>& accessory) {
    if (!accessory) return;
    {
        std::lock_guard lock(mutex_);
        if (std::find(connected_.begin(), connected_.end(), accessory) != connected_.end()) return;
        connected_.push_back(accessory);
    }
    accessory->setConnected(true);
    notify(kAccessoryDidConnectNotification, accessory);
}

void AccessoryManager::detach(const std::shared_ptr<Accessory>& accessory) {
    if (!accessory) return;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find(connected_.begin(), connected_.end(), accessory);
        if (it == connected_.end()) return;
        connected_.erase(it);
    }
    accessory->setConnected(false);
    accessory->endStreams();
    notify(kAccessoryDidDisconnectNotification, accessory);
}

int64_t AccessoryManager::nextConnectionID() {
    static std::atomic<int64_t> next{1000};
    return next++;
}

void AccessoryManager::notify(const char* name, const std::shared_ptr<Accessory>& accessory) {
    if (registrations_.load() == 0) return;
    std::string n = name;
    DispatchQueue::main()->async([n, accessory] {
        NotificationCenter::defaultCenter().post(n, nullptr, UserInfo{{kAccessoryKey, accessory}});
    });
}

}  // namespace qz
