#pragma once

#include <string>
#include <variant>
#include <vector>

#include "api/PIDs/PID.hpp"
#include "api/milstatus/MonitorTestStatus.hpp"
#include "api/milstatus/MonitorTestType.hpp"

namespace qz {

// The answer to 01 01 decoded: MIL, number of emission-related codes, ignition type and the
// readiness of every monitor (SAE J1979 layout). The decoded state lives in the fields below;
// the inherited value stays empty. Fields are guarded by the object's lock.
class PID0101_MonitorStatus : public PID<std::monostate> {
  public:
    // A fresh status: MIL off, no codes, every monitor unknown.
    explicit PID0101_MonitorStatus(Mode mode = Mode::LiveData);

    // Whether the malfunction indicator lamp is on.
    bool milOn() const;
    void setMilOn(bool value);
    // The number of emission-related codes the vehicle reports.
    int64_t dtcCount() const;
    void setDtcCount(int64_t value);
    // The ignition type with its non-continuous monitors (unknown before an answer).
    MonitorTestType monitorType() const;
    void setMonitorType(MonitorTestType value);
    // The three continuous monitors.
    MonitorTestStatus componentsTest() const;
    void setComponentsTest(MonitorTestStatus value);
    MonitorTestStatus fuelSystemTest() const;
    void setFuelSystemTest(MonitorTestStatus value);
    MonitorTestStatus misfireTest() const;
    void setMisfireTest(MonitorTestStatus value);

    // Decodes the four data bytes A B C D; any other count logs "invalid length" and changes
    // nothing. Texts that are no byte read as 0. `data` itself is not stored.
    void setData(const std::vector<std::string>& data) override;

    // The ignition type is known, its group has no incomplete monitor, and neither has any of
    // the three continuous monitors.
    bool areAllComplete() const;

    // "Monitor test status: Mil is off, dtcCount: 0 componentsTest unknown, ...".
    std::string description() const override;

    // A monitor's status from its supported and not-complete bits (qz::statusFromBytes).
    static MonitorTestStatus statusFromBytes(uint8_t availableByte, uint8_t completeByte) {
        return qz::statusFromBytes(availableByte, completeByte);
    }

  private:
    bool milOn_ = false;
    int64_t dtcCount_ = 0;
    MonitorTestType monitorType_ = MonitorTestType::unknown();
    MonitorTestStatus componentsTest_ = MonitorTestStatus::unknown;
    MonitorTestStatus fuelSystemTest_ = MonitorTestStatus::unknown;
    MonitorTestStatus misfireTest_ = MonitorTestStatus::unknown;
};

}  // namespace qz
