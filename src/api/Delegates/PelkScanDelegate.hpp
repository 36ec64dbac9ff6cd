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
//
// Threads: a refusal at the call (busy, no sensor, a module not scanned) reaches the listener
// on the caller's thread before the call returns. Everything else reaches it on a thread of the
// library: "GatewayQueue" or the main queue (progress of the manufacturer modules); a scan's
// end always comes on "GatewayQueue", also when it waited for the analytics post. Two
// progress calls of one scan can overlap (main queue and "GatewayQueue"); the end comes alone,
// after them. A listener may start further operations (a clear from a scan's result, say), but
// must not wait for their results, nor block: the scan or the sensor's replies would wait for it.
class PelkScanDelegate {
  public:
    // Receives a scan's progress, interactions and end; a clear's one result.
    using ScanListener = std::function<void(PelkScanProgress)>;
    using ClearListener = std::function<void(PelkClearResult)>;

    virtual ~PelkScanDelegate() = default;

    // Sets the vehicle's VIN (its make decides what a scan reads) and tells whether the make has
    // manufacturer modules. Synchronous; no sensor needed.
    virtual bool supportsEnhancedDiagnostics(const std::string& vin) = 0;
    // Scans the vehicle with that VIN (none: the generic codes only) on the connected,
    // initialised sensor. Returns at once; the listener then receives, in order:
    // - error(enhancedUnsupported) first when the VIN's make has no manufacturer scan (the
    //   generic scan goes on);
    // - update(fraction) after each module read, and interactionRequired when the user must
    //   act (switch the ignition off and on, flick the key): the scan waits until the app
    //   calls the interaction's listener, once, from any thread;
    // - exactly one end: complete(success: the modules that answered, in order, the generic
    //   module "OBD" last), complete(failure: disconnected([]) without a connected sensor,
    //   communicaton(the modules read so far) when the sensor dropped or stopped answering),
    //   or error(deviceBusy, notInitialized, errorLoading, general(460) when the gateway was
    //   released first). Nothing follows the end.
    // While it runs, the other operations that talk to the vehicle are refused (deviceBusy).
    virtual void performScan(std::optional<std::string> vin, PelkScanType scanType,
                             ScanListener listener) = 0;
    // Clears one module that the latest scan reported (the very object; "OBD": the generic
    // codes). Returns at once; one result reaches the listener: error(deviceBusy,
    // disconnected, notScanned) at the call, else complete(true) when the module accepted the
    // clear, complete(false) when it refused or could not be reached, or
    // error(communication) when the exchange with the sensor failed. Scan again to see what
    // remains (permanent generic codes stay until the vehicle clears them itself).
    virtual void clearModule(std::shared_ptr<PelkModule> module, ClearListener listener) = 0;
};

}  // namespace qz
