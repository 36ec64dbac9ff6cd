#pragma once

#include <map>
#include <memory>

#include "api/Scan/PelkModule.hpp"
#include "lib/Records/QZEModuleData.hpp"

namespace qz {

// The process-wide map from each module the latest scan reported to the engine record it was
// built from, so that a clear finds the record again. Keys compare by identity. Safe to use
// from any thread.
class InstanceStorage {
  public:
    using ScanModuleMap = std::map<std::shared_ptr<PelkModule>, QZEModuleDataPtr>;

    InstanceStorage() = delete;

    // A copy of the map.
    static ScanModuleMap scanModuleMap();
    static void setScanModuleMap(ScanModuleMap map);
    // One entry more (replacing one of the same module).
    static void add(const std::shared_ptr<PelkModule>& module, QZEModuleDataPtr record);
    // The record of that very module, or null.
    static QZEModuleDataPtr record(const std::shared_ptr<PelkModule>& module);
};

}  // namespace qz
