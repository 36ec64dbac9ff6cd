// KWP2000 ReadDiagnosticTroubleCodesByStatus replies: "58", the count, then (A, B, status)
// records; on K-line as bytes, on CAN in the sensor's frame display.

#include <algorithm>

#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace qz {

int64_t QZEBaseDiagnosticModule::decodeKWP2000ResponseBytes(
    const std::vector<std::string>& tokens) {
    return decodeKwp2000Records(reply::Tokens(tokens.begin(), tokens.end()));
}

int64_t QZEBaseDiagnosticModule::decodeKwp2000Records(const reply::Tokens& tokens) {
    // The count follows the first "58"; without one it is the first token.
    size_t p = 0;
    for (size_t i = 0; i < tokens.size(); ++i)
        if (tokens[i] == "58") {
            p = i + 1;
            break;
        }
    if (p >= tokens.size()) return 0;
    size_t n = static_cast<size_t>(reply::byteValue(tokens[p]));
    if (n == 0) return 0;
    // A count larger than the reply yields the whole records that are there.
    n = std::min(n, (tokens.size() - p - 1) / 3);
    for (size_t r = 0; r < n; ++r) {
        size_t at = p + 1 + 3 * r;
        std::string status =
            getKWP2000Status(static_cast<uint8_t>(reply::byteValue(tokens[at + 2])));
        std::string code =
            reply::j2012Code(reply::byteValue(tokens[at]), reply::byteValue(tokens[at + 1]));
        QZELogging::shared().logVerbose("CODE %@", code);
        addCodeUnlessFiller(code, status);
    }
    return static_cast<int64_t>(m_codeArray.size());
}

int64_t QZEBaseDiagnosticModule::decodeKWP2000CANResponse(std::string_view text) {
    if (text.find("NO DATA") != std::string_view::npos || text.starts_with("7F")) return 0;
    for (const auto& message : reply::canMessages(text)) {
        auto at = std::find(message.begin(), message.end(), "58");
        if (at == message.end()) continue;
        // A record needs "58", the count and three bytes.
        if (message.end() - at < 5) return 0;
        return decodeKwp2000Records(reply::Tokens(at, message.end()));
    }
    return 0;
}

int64_t QZEBaseDiagnosticModule::decodeEnhancedCodesCANChryslerJ2012(std::string_view text) {
    return decodeKWP2000CANResponse(text);
}

int64_t QZEBaseDiagnosticModule::decodeJ2012(std::string_view text) {
    return decodeKWP2000CANResponse(text);
}

std::string QZEBaseDiagnosticModule::getKWP2000Status(uint8_t status) const {
    return reply::kwp2000StatusText(status, m_vehicleManufacturer);
}

std::string QZEBaseDiagnosticModule::getJ2012CodeFromBytes(int32_t a, int32_t b) {
    return reply::j2012Code(a, b);
}

void QZEBaseDiagnosticModule::addDTCWithAByte(uint32_t a, uint32_t b, const std::string& status) {
    addCodeUnlessFiller(reply::j2012Code(a, b), status);
}

}  // namespace qz
