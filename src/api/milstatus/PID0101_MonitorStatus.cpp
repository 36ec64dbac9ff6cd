#include "api/milstatus/PID0101_MonitorStatus.hpp"

#include "api/Communication/Vehicle.hpp"
#include "api/Logging/Log.hpp"

namespace qz {

PID0101_MonitorStatus::PID0101_MonitorStatus(Mode mode)
    : PID<std::monostate>(mode, 0x01, PIDCategory::other, "Malfunction Indicator Lamp (MIL) Status",
                          "MIL", 4, ClosedRange{0, 3}, std::nullopt) {}

bool PID0101_MonitorStatus::milOn() const {
    return locked(milOn_);
}
void PID0101_MonitorStatus::setMilOn(bool value) {
    setLocked(milOn_, value);
}
int64_t PID0101_MonitorStatus::dtcCount() const {
    return locked(dtcCount_);
}
void PID0101_MonitorStatus::setDtcCount(int64_t value) {
    setLocked(dtcCount_, value);
}
MonitorTestType PID0101_MonitorStatus::monitorType() const {
    return locked(monitorType_);
}
void PID0101_MonitorStatus::setMonitorType(MonitorTestType value) {
    setLocked(monitorType_, std::move(value));
}
MonitorTestStatus PID0101_MonitorStatus::componentsTest() const {
    return locked(componentsTest_);
}
void PID0101_MonitorStatus::setComponentsTest(MonitorTestStatus value) {
    setLocked(componentsTest_, value);
}
MonitorTestStatus PID0101_MonitorStatus::fuelSystemTest() const {
    return locked(fuelSystemTest_);
}
void PID0101_MonitorStatus::setFuelSystemTest(MonitorTestStatus value) {
    setLocked(fuelSystemTest_, value);
}
MonitorTestStatus PID0101_MonitorStatus::misfireTest() const {
    return locked(misfireTest_);
}
void PID0101_MonitorStatus::setMisfireTest(MonitorTestStatus value) {
    setLocked(misfireTest_, value);
}

void PID0101_MonitorStatus::setData(const std::vector<std::string>& data) {
    if (static_cast<int64_t>(data.size()) != responseBytes()) {
        Log::e("invalid length");
        return;
    }
    const uint8_t a = Vehicle::hexToUInt8(data[0]);
    const uint8_t b = Vehicle::hexToUInt8(data[1]);
    const uint8_t c = Vehicle::hexToUInt8(data[2]);
    const uint8_t d = Vehicle::hexToUInt8(data[3]);
    auto bit = [](uint8_t v, int i) -> uint8_t { return (v >> i) & 1u; };
    auto fromCD = [&](int i) { return statusFromBytes(bit(c, i), bit(d, i)); };

    MonitorTestType type =
        bit(b, 3) == 0
            ? MonitorTestType::spark(SparkTests(fromCD(7), fromCD(6), fromCD(5), fromCD(4),
                                                fromCD(3), fromCD(2), fromCD(1), fromCD(0)))
            : MonitorTestType::compression(CompressionTests(fromCD(7), fromCD(6), fromCD(5),
                                                            fromCD(3), fromCD(1), fromCD(0)));

    auto l = lock();
    valueInternal_.reset();
    milOn_ = bit(a, 7) != 0;
    dtcCount_ = a & 0x7F;
    misfireTest_ = statusFromBytes(bit(b, 0), bit(b, 4));
    fuelSystemTest_ = statusFromBytes(bit(b, 1), bit(b, 5));
    componentsTest_ = statusFromBytes(bit(b, 2), bit(b, 6));
    monitorType_ = std::move(type);
}

bool PID0101_MonitorStatus::areAllComplete() const {
    auto l = lock();
    bool groupDone = false;
    if (auto s = monitorType_.sparkTests()) groupDone = s->areAllComplete();
    if (auto c = monitorType_.compressionTests()) groupDone = c->areAllComplete();
    return groupDone && componentsTest_ != MonitorTestStatus::incomplete &&
           fuelSystemTest_ != MonitorTestStatus::incomplete &&
           misfireTest_ != MonitorTestStatus::incomplete;
}

std::string PID0101_MonitorStatus::description() const {
    auto l = lock();
    return std::string("Monitor test status: Mil is ") + (milOn_ ? "on" : "off") +
           ", dtcCount: " + std::to_string(dtcCount_) + " componentsTest " +
           describe(componentsTest_) + ", fuelSystemTest " + describe(fuelSystemTest_) +
           ", misfireTest " + describe(misfireTest_) +
           ", monitorType: " + monitorType_.description();
}

}  // namespace qz
