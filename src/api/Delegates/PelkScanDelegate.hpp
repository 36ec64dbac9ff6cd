#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "api/Scan/PelkModule.hpp"
#include "api/Scan/PelkScanProgress.hpp"
#include "api/Scan/PelkScanType.hpp"

namespace qz {

// Trouble-code scans and clears.
class PelkScanDelegate {
  public:
    using ScanListener = std::function<void(PelkScanProgress)>;
    using ClearListener = std::function<void(PelkClearResult)>;

    virtual ~PelkScanDelegate() = default;

    // Sets the vehicle's VIN; whether its make has a manufacturer scan.
    virtual bool supportsEnhancedDiagnostics(const std::string& vin) = 0;
    // Runs a scan of the vehicle with that VIN; progress, interactions and the result reach
    // the listener. Returns at once. Progress comes on the main queue or on "GatewayQueue";
    // the scan's last value (its result, or the error that ends it) on "GatewayQueue", except
    // the busy refusal, which comes at once on the caller's thread.
    virtual void performScan(std::optional<std::string> vin, PelkScanType scanType,
                             ScanListener listener) = 0;
    // Clears one module the latest scan reported ("OBD": the generic codes). Returns at once;
    // one result reaches the listener.
    virtual void clearModule(std::shared_ptr<PelkModule> module, ClearListener listener) = 0;
};

}  // namespace qz
