#include "api/Communication/BusProtocol.hpp"

namespace qz {

std::optional<BusProtocol> busProtocolFromRawValue(int64_t rawValue) {
    switch (rawValue) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
        case 7:
        case 8:
        case 9:
        case 58:
        case 59:
        case 97:
            return static_cast<BusProtocol>(rawValue);
        default:
            return std::nullopt;
    }
}

std::string obd2ProtocolString(BusProtocol bus) {
    switch (bus) {
        case BusProtocol::unknownBus:
            return "UNKNOWN";
        case BusProtocol::j1850Pwm:
            return "J1850_PWM";
        case BusProtocol::j1850Vpw:
            return "J1850_VPW";
        case BusProtocol::iso9141:
            return "ISO_9141";
        case BusProtocol::kWP2000Slow:
            return "KWP2000_Slow";
        case BusProtocol::kWP2000Fast:
            return "KWP2000_Fast";
        case BusProtocol::can11500:
            return "CAN11_500";
        case BusProtocol::can29500:
            return "CAN29_500";
        case BusProtocol::can11250:
            return "CAN11_250";
        case BusProtocol::can29250:
            return "CAN29_250";
        case BusProtocol::gmLan:
            return "GM_LAN";
        case BusProtocol::hondaDiagh:
            return "HONDA_DIAGH";
        case BusProtocol::mbiso:
            return "MBISO";
    }
    return "UNKNOWN";
}

BusPins initialisationPins(BusProtocol bus) {
    switch (bus) {
        case BusProtocol::j1850Pwm:
            return {2, 10};
        case BusProtocol::j1850Vpw:
            return {2, 0};
        case BusProtocol::iso9141:
        case BusProtocol::kWP2000Slow:
        case BusProtocol::kWP2000Fast:
            return {7, 0};
        default:
            return {6, 14};
    }
}

}  // namespace qz
