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
    explicit PID0101_MonitorStatus(Mode mode = Mode::LiveData);

    bool milOn() const;
    void setMilOn(bool value);
    int64_t dtcCount() const;
    void setDtcCount(int64_t value);
    MonitorTestType monitorType() const;
    void setMonitorType(MonitorTestType value);
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
