#include "api/Scan/InstanceStorage.hpp"

#include <mutex>

#include "platform/Locked.hpp"

namespace qz {

namespace {

struct Storage {
    std::mutex mutex;
    InstanceStorage::ScanModuleMap map;
};

// Lives for the process (never destroyed, so no exit-time order matters).
Storage& storage() {
    static Storage& s = *new Storage;
    return s;
}

}  // namespace

InstanceStorage::ScanModuleMap InstanceStorage::scanModuleMap() {
    return lockedCopy(storage().mutex, storage().map);
}

void InstanceStorage::setScanModuleMap(ScanModuleMap map) {
    ScanModuleMap old;
    {
        std::lock_guard lock(storage().mutex);
        old.swap(storage().map);
        storage().map = std::move(map);
    }
    // The old entries are released here, outside the lock.
}

void InstanceStorage::add(const std::shared_ptr<PelkModule>& module, QZEModuleDataPtr record) {
    if (!module) return;
    std::lock_guard lock(storage().mutex);
    storage().map[module] = std::move(record);
}

QZEModuleDataPtr InstanceStorage::record(const std::shared_ptr<PelkModule>& module) {
    if (!module) return nullptr;
    std::lock_guard lock(storage().mutex);
    auto it = storage().map.find(module);
    return it == storage().map.end() ? nullptr : it->second;
}

}  // namespace qz
