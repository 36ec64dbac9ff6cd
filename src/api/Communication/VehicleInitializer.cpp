#include "api/Communication/VehicleInitializer.hpp"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <vector>

#include "api/Communication/Relay.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/Logging/Log.hpp"
#include "lib/Decoders/QZEReplyText.hpp"

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

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The lines of a reply that hold more than blanks, without its prompt.
std::vector<std::string_view> filledLines(std::string_view reply) {
    if (reply.ends_with('>')) reply.remove_suffix(1);
    std::vector<std::string_view> lines;
    while (!reply.empty()) {
        const size_t end = std::min(reply.find_first_of("\r\n"), reply.size());
        std::string_view line = reply.substr(0, end);
        reply.remove_prefix(std::min(end + 1, reply.size()));
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

// What the sensor's version answer starts with ("OSAPI 4.08").
constexpr std::string_view kVersionWord = "OSAPI";
// At most this many digits before the point: the hundredfold fits 64 bits.
constexpr size_t kMostVersionDigits = 13;

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
    const auto lines = filledLines(reply::withoutEcho(reply, "KQI"));
    if (lines.size() != 1 || !lines.front().starts_with(kVersionWord)) return std::nullopt;
    std::string_view number = lines.front().substr(kVersionWord.size());
    if (number.empty() || number.front() != ' ') return std::nullopt;
    while (!number.empty() && number.front() == ' ') number.remove_prefix(1);
    // Its whole number, a point and its two decimals: an answer cut short lost some of them.
    const size_t point = number.find('.');
    if (point == 0 || point == std::string_view::npos || point > kMostVersionDigits ||
        number.size() != point + 3 ||
        !std::all_of(number.begin(), number.begin() + point, isDigit) ||
        !isDigit(number[point + 1]) || !isDigit(number[point + 2]))
        return std::nullopt;
    int64_t hundredfold = 0;
    for (char c : number)
        if (c != '.') hundredfold = hundredfold * 10 + (c - '0');
    return static_cast<float>(static_cast<double>(hundredfold) / 100.0);
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
        // Not answered (a stalled answer is dropped by the relay), or not whole: asked again.
        if (!reply) continue;
        auto version = parseSensorVersion(*reply);
        if (!version) {
            Log::e("Could not parse OSAPI version");
            continue;
        }
        m_sensorVersion = *version;
        m_sensorVersionText = numberText(*reply);
        m_sensorVersionRead = true;
        return true;
    }
    Log::e("Sensor version not read");
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
