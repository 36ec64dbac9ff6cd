#pragma once

namespace qz {

// The result of the emissions-readiness check (pass, fail or warning, with the monitors
// and codes behind it); filled by the check itself.
class SmogInfoReport {
  public:
    virtual ~SmogInfoReport() = default;
};

}  // namespace qz
