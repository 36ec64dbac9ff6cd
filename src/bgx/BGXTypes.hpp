#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Result.hpp"

namespace qz {

// The module's GATT identifiers (normalised 128-bit texts).
namespace BGXUUID {
// The streaming service; scans look for it.
inline constexpr const char* streamingService = "331a36f5-2459-45ea-9d95-6142f0c4b307";
// Bytes to the module; the module's fast-acknowledgement messages come back on it.
inline constexpr const char* peripheralRX = "a9da6040-0823-4995-94ec-9ce41ca28833";
// Bytes from the module; the central's fast-acknowledgement messages go out on it.
inline constexpr const char* peripheralTX = "a73e9a10-628f-4494-a099-12efaf72258f";
// The module's bus mode (notify, read, write with response).
inline constexpr const char* busMode = "75a9f022-af03-4e41-b4bc-9de90a47d50b";
// Read only; the device information service and its model number and firmware revision.
inline constexpr const char* deviceUniqueId = "12e868e7-c926-4906-96c8-a7ee81d4b1b3";
inline constexpr const char* deviceInformationService = "0000180a-0000-1000-8000-00805f9b34fb";
inline constexpr const char* modelNumber = "00002a24-0000-1000-8000-00805f9b34fb";
inline constexpr const char* firmwareRevision = "00002a26-0000-1000-8000-00805f9b34fb";
}  // namespace BGXUUID

// A device's link: `Connecting` (asked for), `Interrogating` (linked, reading the module),
// `Connected` (usable), `Disconnecting` (closing asked for), `Disconnected`.
enum class DeviceState : uint64_t {
    Interrogating = 0,
    Disconnected = 1,
    Connecting = 2,
    Connected = 3,
    Disconnecting = 4,
};

// The scanner's state.
enum class ScanState : uint64_t {
    Unavailable = 0,  // Bluetooth not powered on
    Idle = 1,
    Scanning = 2,
};

// The module's bus mode byte as last read or notified; 0 until the first value arrives.
using BusMode = int32_t;

// The credit the central grants the module at first.
inline constexpr int64_t kInitialFastAckRxBytes = 32767;

// A fast-acknowledgement message (3 bytes, either direction): a command and a 16-bit
// little-endian count. Command 0 sets the receiver's transmit credit, command 1 adds to it.
struct FastAckMessage {
    static constexpr uint8_t kSetCredit = 0;
    static constexpr uint8_t kAddCredit = 1;

    uint8_t command = 0;
    uint16_t count = 0;

    // The three bytes of the message.
    Data bytes() const {
        return {command, static_cast<uint8_t>(count & 0xFF), static_cast<uint8_t>(count >> 8)};
    }
    // The message in `value`, or none when it is not 3 bytes long.
    static std::optional<FastAckMessage> parse(const Data& value) {
        if (value.size() != 3) return std::nullopt;
        return FastAckMessage{value[0], static_cast<uint16_t>(value[1] | (value[2] << 8))};
    }
};

}  // namespace qz
