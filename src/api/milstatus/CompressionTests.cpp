#include "api/milstatus/CompressionTests.hpp"

namespace qz {

bool CompressionTests::areAllComplete() const {
    for (auto s : {eGRAndOrVVTSystem_, pMFilterMonitoring_, exhaustGasSensor_, boostPressure_,
                   nOxSCRMonitor_, nMHCCatalyst_})
        if (s == MonitorTestStatus::incomplete) return false;
    return true;
}

std::string CompressionTests::description() const {
    return "EGR/VVT System: " + describe(eGRAndOrVVTSystem_) +
           ", PM Filter Monitoring: " + describe(pMFilterMonitoring_) +
           ", Exhaust Gas Sensor: " + describe(exhaustGasSensor_) +
           ", Boost Pressure: " + describe(boostPressure_) +
           ", NOx SRC Monitor: " + describe(nOxSCRMonitor_) +
           ", NMHC Catalyst: " + describe(nMHCCatalyst_);
}

}  // namespace qz
