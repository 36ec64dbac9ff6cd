#pragma once

#include <string>

#include "api/milstatus/MonitorTestStatus.hpp"

namespace qz {

// The non-continuous monitors of a compression-ignition engine; fixed once built.
class CompressionTests {
  public:
    // Each monitor's status, in the order of the getters.
    CompressionTests(MonitorTestStatus eGRAndOrVVTSystem, MonitorTestStatus pMFilterMonitoring,
                     MonitorTestStatus exhaustGasSensor, MonitorTestStatus boostPressure,
                     MonitorTestStatus nOxSCRMonitor, MonitorTestStatus nMHCCatalyst)
        : eGRAndOrVVTSystem_(eGRAndOrVVTSystem),
          pMFilterMonitoring_(pMFilterMonitoring),
          exhaustGasSensor_(exhaustGasSensor),
          boostPressure_(boostPressure),
          nOxSCRMonitor_(nOxSCRMonitor),
          nMHCCatalyst_(nMHCCatalyst) {}

    // The status of each monitor: EGR and/or VVT, PM filter, exhaust gas sensor, boost
    // pressure, NOx/SCR, NMHC catalyst.
    MonitorTestStatus eGRAndOrVVTSystem() const { return eGRAndOrVVTSystem_; }
    MonitorTestStatus pMFilterMonitoring() const { return pMFilterMonitoring_; }
    MonitorTestStatus exhaustGasSensor() const { return exhaustGasSensor_; }
    MonitorTestStatus boostPressure() const { return boostPressure_; }
    MonitorTestStatus nOxSCRMonitor() const { return nOxSCRMonitor_; }
    MonitorTestStatus nMHCCatalyst() const { return nMHCCatalyst_; }

    // No monitor is incomplete (unavailable and unknown count as done).
    bool areAllComplete() const;
    // "EGR/VVT System: complete, PM Filter Monitoring: ..., NMHC Catalyst: complete".
    std::string description() const;

    // Equal when every monitor's status is.
    bool operator==(const CompressionTests&) const = default;

  private:
    MonitorTestStatus eGRAndOrVVTSystem_;
    MonitorTestStatus pMFilterMonitoring_;
    MonitorTestStatus exhaustGasSensor_;
    MonitorTestStatus boostPressure_;
    MonitorTestStatus nOxSCRMonitor_;
    MonitorTestStatus nMHCCatalyst_;
};

}  // namespace qz
