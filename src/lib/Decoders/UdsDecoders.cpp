// UDS ReadDTCInformation replies: "59", the report type, the availability mask, then
// (A, B, failure type, status) records. Also the ECU identification replies.

#include <algorithm>

#include "lib/Decoders/QZEModuleReply.hpp"
#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace qz {

namespace {

std::string joined(reply::Tokens::const_iterator begin, reply::Tokens::const_iterator end) {
    std::string out;
    for (auto it = begin; it != end; ++it) out += *it;
    return out;
}

}  // namespace

int64_t QZEBaseDiagnosticModule::decodeUds(std::string_view text) {
    if (text.size() < 10) return 0;
    // A negative response ("response pending") may come before the answer in the same reply.
    for (const auto& message :
         QZEModuleReply::classify(text, QZEAsked::of("19", QZEFraming::can, displayed())).messages)
        return decodeUdsMessage(message);
    QZELogging::shared().logVerbose("Invalid index for UTC code");
    return 0;
}

int64_t QZEBaseDiagnosticModule::decodeExtendedUds(std::string_view text) {
    for (const auto& message :
         QZEModuleReply::classify(text, QZEAsked::of("19", QZEFraming::canExtended, displayed()))
             .messages)
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
    auto t = reply::tokens(response);
    auto contains = [](std::string_view text, std::string_view part) {
        return text.find(part) != std::string_view::npos;
    };
    // The first "5A" directly followed by the identifier.
    auto find = [&](std::string_view id) {
        for (size_t i = 0; i + 1 < t.size(); ++i)
            if (t[i] == "5A" && t[i + 1] == id) return t.begin() + static_cast<std::ptrdiff_t>(i);
        return t.end();
    };
    if (contains(request, "86")) {
        if (!contains(response, "5A 86")) return std::nullopt;
        auto at = find("86");
        if (at == t.end() || t.end() - at < 7) return std::nullopt;
        return joined(at + 2, at + 7);
    }
    if (contains(request, "87")) {
        if (!contains(response, "5A 87")) return std::nullopt;
        auto at = find("87");
        if (at == t.end() || t.end() - at < 6) return std::nullopt;
        return joined(at + 4, at + 6);
    }
    if (contains(request, "22F100")) {
        if (t.size() < 8) return std::nullopt;
        return joined(t.begin() + 5, t.begin() + 8);
    }
    if (contains(request, "3C00")) {
        if (t.size() < 11) return std::nullopt;
        return joined(t.begin() + 5, t.begin() + 10);
    }
    return std::nullopt;
}

}  // namespace qz
