// UDS ReadDTCInformation replies: "59", the report type, the availability mask, then
// (A, B, failure type, status) records. Also the ECU identification replies.

#include <algorithm>

#include "lib/Decoders/QZEModuleReply.hpp"
#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace qz {

namespace {

std::string joined(QZEMessageBytes::const_iterator begin, QZEMessageBytes::const_iterator end) {
    std::string out;
    for (auto it = begin; it != end; ++it) out += *it;
    return out;
}

}  // namespace

int64_t QZEBaseDiagnosticModule::decodeUds(std::string_view text) {
    if (text.size() < 10) return 0;
    // A negative response ("response pending") may come before the answer in the same reply.
    for (const auto& message : readableMessages(
             QZEModuleReply::classify(text, QZEAsked::of("19", QZEFraming::can, displayed()))))
        return decodeUdsMessage(message);
    QZELogging::shared().logVerbose("Invalid index for UTC code");
    return 0;
}

int64_t QZEBaseDiagnosticModule::decodeExtendedUds(std::string_view text) {
    for (const auto& message : readableMessages(QZEModuleReply::classify(
             text, QZEAsked::of("19", QZEFraming::canExtended, displayed()))))
        return decodeUdsMessage(message);
    return 0;
}

int64_t QZEBaseDiagnosticModule::decodeUdsMessage(const QZEMessageBytes& message) {
    // 59, report type and mask, then whole records up to the message's length.
    int64_t records = 0;
    std::vector<std::string> record(4);
    for (size_t pos = 3; pos + 4 <= message.size(); pos += 4, ++records) {
        for (size_t i = 0; i < 4; ++i) record[i] = message[pos + i];
        addUdsCodeFromBytes(record);
    }
    return records;
}

void QZEBaseDiagnosticModule::addUdsCodeFromBytes(const std::vector<std::string>& bytes) {
    if (bytes.size() != 4) {
        QZELogging::shared().logError("Incorrect UDS code size: %@", bytes.size());
        return;
    }
    std::string code =
        reply::j2012Code(reply::byteValue(bytes[0]), reply::byteValue(bytes[1])) + "-" + bytes[2];
    addCodeUnlessFiller(code, decodeStatusByte(reply::byteValue(bytes[3])));
}

std::string QZEBaseDiagnosticModule::decodeStatusByte(int64_t status) {
    return reply::udsStatusText(status);
}

std::optional<std::string> QZEBaseDiagnosticModule::decodeEcuIdentificationWithRequest(
    std::string_view request, std::string_view response) {
    return ecuIdentification(request,
                             QZEModuleReply::classify(response, askedOf(std::string(request))));
}

std::optional<std::string> QZEBaseDiagnosticModule::ecuIdentification(std::string_view request,
                                                                      const QZEModuleReply& reply) {
    if (!reply.answered()) return std::nullopt;
    auto contains = [](std::string_view text, std::string_view part) {
        return text.find(part) != std::string_view::npos;
    };
    // The bytes [from, from + count) after the first "5A <id>" of a message, or none.
    auto after5A = [&](int id, size_t from, size_t count) -> std::optional<std::string> {
        for (const auto& m : reply.messages)
            for (size_t i = 0; i + 1 < m.size(); ++i) {
                if (reply::byteValue(m[i]) != 0x5A || reply::byteValue(m[i + 1]) != id) continue;
                if (m.size() < i + from + count) return std::nullopt;
                return joined(m.begin() + static_cast<std::ptrdiff_t>(i + from),
                              m.begin() + static_cast<std::ptrdiff_t>(i + from + count));
            }
        return std::nullopt;
    };
    // The bytes [from, from + count) of the first message that begins with `head`.
    auto at = [&](std::initializer_list<int> head, size_t from,
                  size_t count) -> std::optional<std::string> {
        for (const auto& m : reply.messages) {
            if (m.size() < from + count || m.size() < head.size()) continue;
            if (!std::equal(head.begin(), head.end(), m.begin(),
                            [](int b, const std::string& t) { return reply::byteValue(t) == b; }))
                continue;
            return joined(m.begin() + static_cast<std::ptrdiff_t>(from),
                          m.begin() + static_cast<std::ptrdiff_t>(from + count));
        }
        return std::nullopt;
    };
    // 5A 86 <five bytes>; 5A 87 <two bytes> <two bytes>; 62 F1 00 <three bytes>;
    // 7C 00 <five bytes>.
    if (contains(request, "86")) return after5A(0x86, 2, 5);
    if (contains(request, "87")) return after5A(0x87, 4, 2);
    if (contains(request, "22F100")) return at({0x62, 0xF1, 0x00}, 3, 3);
    if (contains(request, "3C00")) return at({0x7C, 0x00}, 2, 5);
    return std::nullopt;
}

}  // namespace qz
