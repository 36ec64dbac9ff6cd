#include <string>

#include "api/PIDs/HexText.hpp"
#include "api/PIDs/Mode1/Mode1PIDs.hpp"

namespace qz {
namespace {

struct SensorTexts {
    const char* fullHead;
    const char* fullMiddle;
    const char* fullTail;
    const char* shortHead;
};

SensorTexts textsFor(SensorNames names) {
    switch (names) {
        case SensorNames::oxygenSensorVoltage:
            return {"O2 Bank ", " - Sensor ", " - Oxygen Sensor Voltage", "O2SB"};
        case SensorNames::shortTermFuelTrim:
            return {"O2 Bank ", " - Sensor ", " - Short Term Fuel Trim", "SHRTFTB"};
        case SensorNames::wideRangeLambda:
            return {"Wide Range O2 Bank ", ", Sensor ", " - Equivalence Ratio", "LAMBDAB"};
        case SensorNames::wideRangeVoltage:
            return {"Wide Range O2 Bank ", ", Sensor ", " - Voltage", "O2SB"};
        case SensorNames::wideRangeCurrentLambda:
            return {"Wide Range O2S: Bank ", " - Sensor ", " - Equivalence Ratio", "LAMBDAB"};
        case SensorNames::wideRangeCurrent:
            return {"Wide Range O2S: Bank ", " - Sensor ", " - Current", "O2SB"};
        case SensorNames::none:
            break;
    }
    return {};
}

bool firstByteHasBit(const std::vector<uint8_t>& answer, int64_t bit) {
    return !answer.empty() && bitAt(answer.front(), bit);
}

}  // namespace

void conformToSensorLayout(PIDInfo& pid, const PIDRow& row, const std::vector<uint8_t>& val13,
                           const std::vector<uint8_t>& val1D) {
    if (row.bankThree != BankThreeRole::none) {
        bool bankThree = !val1D.empty() && (val1D.front() & 0x30) != 0;
        if (bankThree) return;
        if (row.bankThree == BankThreeRole::narrowToOneByte)
            pid.setResponseBytes(1);
        else
            pid.setSupportStatus(SupportStatus::unsupported);
        return;
    }
    if (row.sensorBit < 0) return;
    int k = row.sensorBit;
    bool in13 = firstByteHasBit(val13, k);
    bool in1D = firstByteHasBit(val1D, k);
    if (!in13 && !in1D) {
        pid.setSupportStatus(SupportStatus::unsupported);
        return;
    }
    pid.setSupportStatus(SupportStatus::supported);
    if (k < 2 || row.sensorNames == SensorNames::none) return;
    int bank = in13 ? k / 4 + 1 : k / 2 + 1;
    int sensor = in13 ? k % 4 + 1 : k % 2 + 1;
    SensorTexts t = textsFor(row.sensorNames);
    pid.setFullName(t.fullHead + std::to_string(bank) + t.fullMiddle + std::to_string(sensor) +
                    t.fullTail);
    pid.setShortName(t.shortHead + std::to_string(bank) + "S" + std::to_string(sensor));
}

}  // namespace qz
