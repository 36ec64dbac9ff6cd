#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qz {

// The vehicle bus the sensor reports to "KQDP", by its number.
enum class BusProtocol : int64_t {
    unknownBus = 0,
    j1850Pwm = 1,
    j1850Vpw = 2,
    iso9141 = 3,
    kWP2000Slow = 4,
    kWP2000Fast = 5,
    can11500 = 6,
    can29500 = 7,
    can11250 = 8,
    can29250 = 9,
    gmLan = 58,
    hondaDiagh = 59,
    mbiso = 97,
};

// The bus of a raw number, or nullopt for a number that is none of the thirteen.
std::optional<BusProtocol> busProtocolFromRawValue(int64_t rawValue);

inline int64_t rawValue(BusProtocol bus) {
    return static_cast<int64_t>(bus);
}

// The protocol text the engine chooses its buses by, e.g. "CAN11_500".
std::string obd2ProtocolString(BusProtocol bus);

// Diagnostic-connector pins (high, low) the sensor uses on this bus after initialisation.
struct BusPins {
    int64_t high;
    int64_t low;
};
BusPins initialisationPins(BusProtocol bus);

}  // namespace qz
