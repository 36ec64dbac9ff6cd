// KWP2000 ReadDiagnosticTroubleCodesByStatus replies: "58", the count, then (A, B, status)
// records; on K-line as bytes, on CAN in the sensor's frame display.

#include <algorithm>

#include "lib/Decoders/QZEModuleReply.hpp"
#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace qz {

int64_t QZEBaseDiagnosticModule::decodeKWP2000ResponseBytes(
    const std::vector<std::string>& tokens) {
    return decodeKwp2000Records(reply::Tokens(tokens.begin(), tokens.end()));
}

std::vector<QZEKwpRecord> QZEBaseDiagnosticModule::kwpRecords(const reply::Tokens& message,
                                                              size_t countAt) {
    std::vector<QZEKwpRecord> out;
    if (message.size() <= countAt) return out;
    // A count larger than the reply yields the whole records that are there.
    const size_t count = std::min(static_cast<size_t>(reply::byteValue(message[countAt])),
                                  (message.size() - countAt - 1) / 3);
    for (size_t r = 0; r < count; ++r) {
        const size_t at = countAt + 1 + 3 * r;
        out.push_back({reply::byteValue(message[at]), reply::byteValue(message[at + 1]),
                       reply::byteValue(message[at + 2])});
    }
    return out;
}

int64_t QZEBaseDiagnosticModule::decodeKwp2000Records(const reply::Tokens& tokens) {
    // Bytes beside a frame the adapter flagged as damaged are no code.
    if (reply::isDamagedLine(tokens)) return 0;
    // The count follows the first "58"; without one it is the first token.
    auto at = std::find(tokens.begin(), tokens.end(), "58");
    const size_t countAt = at == tokens.end() ? 0 : static_cast<size_t>(at - tokens.begin()) + 1;
    if (countAt >= tokens.size() || reply::byteValue(tokens[countAt]) == 0) return 0;
    for (const auto& record : kwpRecords(tokens, countAt)) {
        QZELogging::shared().logVerbose("CODE %@", reply::j2012Code(record.a, record.b));
        addDTCWithAByte(static_cast<uint32_t>(record.a), static_cast<uint32_t>(record.b),
                        getKWP2000Status(static_cast<uint8_t>(record.status)));
    }
    return static_cast<int64_t>(m_codeArray.size());
}

int64_t QZEBaseDiagnosticModule::decodeKWP2000CANResponse(std::string_view text) {
    if (reply::holdsNoData(text)) return 0;
    QZEAsked asked;
    asked.positive = 0x58;
    asked.display = displayed();
    // A negative response ("response pending") may come before the answer in the same reply.
    for (const auto& message : readableMessages(QZEModuleReply::classify(text, asked)))
        return decodeKwp2000Records(reply::Tokens(message.begin(), message.end()));
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
