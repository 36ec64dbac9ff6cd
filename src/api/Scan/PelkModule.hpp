#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "api/Scan/PelkScanType.hpp"

namespace qz {

class ScanController;

// One trouble code of a scanned module. Made by the library's scan only; immutable, safe to
// read from any thread.
class PelkTroubleCode {
  public:
    PelkTroubleCode(const PelkTroubleCode&) = delete;
    PelkTroubleCode& operator=(const PelkTroubleCode&) = delete;

    // The code as shown, such as "P0420".
    const std::string& code() const { return code_; }
    // Its description (may be empty).
    const std::string& codeDescription() const { return codeDescription_; }
    // The status the module reported ("CONFIRMED", "PENDING", ...; may be empty).
    const std::string& status() const { return status_; }

    // "<[code:status]:  description>"
    std::string description() const;

  private:
    friend class ScanController;
    PelkTroubleCode(std::string code, std::string codeDescription, std::string status);

    const std::string code_;
    const std::string codeDescription_;
    const std::string status_;
};

// A module's codes, in the module's order.
using PelkTroubleCodes = std::vector<std::shared_ptr<PelkTroubleCode>>;

// One scanned control module with its codes. Made by the library's scan only; modules compare
// by identity (the pointer), so only the very objects a scan reported can be cleared.
class PelkModule {
  public:
    PelkModule(const PelkModule&) = delete;
    PelkModule& operator=(const PelkModule&) = delete;

    // The module's name ("Engine Control Module").
    const std::string& name() const { return name_; }
    // Its short name, which clearModule and the demo's "clear ACRONYM" go by; the generic
    // OBD-II module is "OBD". Two modules of one scan may share it (a make's modules on two
    // buses).
    const std::string& acronym() const { return acronym_; }
    // The warning-light text of the definition file (may be empty).
    const std::string& light() const { return light_; }
    // The codes found, in the module's order. Safe to use from any thread.
    PelkTroubleCodes results() const;
    void setResults(PelkTroubleCodes results);

    // The light text upper-cased, as a category; unknown when no case matches.
    PelkLightCategory lightCategory() const;
    // The module category text upper-cased, as a category; unknown when no case matches.
    PelkModuleCategory category() const;

    // "🚗 PelkModule: name, acronym: X, dtcs: [...], light: engine, category : engine"
    std::string description() const;

  private:
    friend class ScanController;
    PelkModule(std::string name, std::string acronym, std::string light, std::string moduleCategory,
               PelkTroubleCodes results);

    const std::string name_;
    const std::string acronym_;
    const std::string light_;
    const std::string moduleCategory_;
    mutable std::mutex mutex_;
    PelkTroubleCodes results_;
};

// A scan's modules, in the order they were reported.
using PelkModules = std::vector<std::shared_ptr<PelkModule>>;

// "[<module>, <module>]": the modules' descriptions in a bracketed list.
std::string describe(const PelkModules& modules);

}  // namespace qz
