#include "api/Communication/VehicleInitializer.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "api/Communication/Relay.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/Logging/Log.hpp"

namespace qz {

namespace {

// Start-up exchanges: one transmission each, no "NO DATA" retry, no folding.
Result<std::string, CommError> exchange(const std::shared_ptr<Relay>& relay,
                                        const std::string& command) {
    return relay->sendToSensor(command, false, 0, MultiResponseStrategy{});
}

// The digits and points of a reply, in order.
std::string numberText(const std::string& reply) {
    std::string digits;
    for (char c : reply) {
        if ((c >= '0' && c <= '9') || c == '.') digits += c;
    }
    return digits;
}

}  // namespace

bool VehicleInitializer::doStandardInit(int retry) {
    for (; retry >= 0; --retry) {
        m_sensorVersionRead = false;
        auto relay = m_vehicle.relay();
        if (!relay) continue;
        auto reply = exchange(relay, "KQD");
        if (!reply || reply->find("OK") == std::string::npos) continue;
        if (!requestSensorVersion()) continue;
        if (!requestVehicleProtocol()) continue;
        m_vehicle.setActivePins(initialisationPins(m_busProtocol));
        return true;
    }
    return false;
}

std::optional<float> VehicleInitializer::parseSensorVersion(const std::string& reply) {
    const std::string digits = numberText(reply);
    if (digits.empty()) return std::nullopt;
    float version = 0;
    const char* end = digits.data() + digits.size();
    auto [ptr, ec] = std::from_chars(digits.data(), end, version, std::chars_format::fixed);
    if (ec == std::errc::result_out_of_range && ptr == end &&
        digits.substr(0, digits.find('.')).find_first_not_of('0') == std::string::npos) {
        // Too small for single precision: it reads as 0. Only too large a number fails.
        version = 0;
        ec = std::errc();
    }
    if (ec != std::errc() || ptr != end || !std::isfinite(version)) return std::nullopt;
    // The stored form is the hundredfold as a 64-bit integer.
    if (std::fabs(static_cast<double>(version) * 100.0) >= 9.0e18) return std::nullopt;
    return version;
}

std::optional<int64_t> VehicleInitializer::parseBusNumber(const std::string& reply) {
    const std::string digits = numberText(reply);
    if (digits.empty()) return std::nullopt;
    int64_t number = 0;
    const char* end = digits.data() + digits.size();
    auto [ptr, ec] = std::from_chars(digits.data(), end, number);
    if (ec != std::errc() || ptr != end) return std::nullopt;
    return number;
}

bool VehicleInitializer::requestSensorVersion() {
    auto relay = m_vehicle.relay();
    if (!relay) return true;
    for (int ask = 0; ask < kVersionAsks; ++ask) {
        auto reply = exchange(relay, "KQI");
        // Not answered (a stalled answer is dropped by the relay): asked again.
        if (!reply) continue;
        auto version = parseSensorVersion(*reply);
        if (!version) {
            Log::e("Could not parse OSAPI version");
            return false;
        }
        m_sensorVersion = *version;
        m_sensorVersionText = numberText(*reply);
        m_sensorVersionRead = true;
        return true;
    }
    Log::e("Sensor version not answered");
    return true;
}

bool VehicleInitializer::requestVehicleProtocol() {
    auto relay = m_vehicle.relay();
    if (!relay) return false;
    auto reply = exchange(relay, "KQDP");
    if (!reply) return false;
    auto number = parseBusNumber(*reply);
    if (!number) return false;
    m_busProtocol = busProtocolFromRawValue(*number).value_or(BusProtocol::unknownBus);
    return true;
}

}  // namespace qz
