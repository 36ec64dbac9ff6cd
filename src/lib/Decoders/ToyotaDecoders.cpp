// Toyota service 53 replies: "53", the count, then (A, B) pairs; on CAN, on K-line and as the
// broadcast answers of several control units.

#include <algorithm>

#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"
#include "lib/Modules/QZENaks.hpp"

namespace qz {

int64_t QZEBaseDiagnosticModule::decodeToyotaDataCAN(std::string_view text,
                                                     const std::string& status) {
    auto& log = QZELogging::shared();
    log.logDebug("Toyota decode str: %@", text);
    if (text.size() < 10) return 0;
    if (text.starts_with("53")) log.logDebug("Appending 00 for single frame");
    for (const auto& message : reply::canMessages(text)) {
        if (reply::isNegative(message)) continue;
        auto at = std::find(message.begin(), message.end(), "53");
        if (at == message.end()) continue;
        reply::Tokens t(at, message.end());
        if (t.size() < 4) return 0;
        // At least one pair is read even when the count says none.
        size_t n = std::max(reply::byteValue(t[1]), 1);
        for (size_t i = 0, pos = 2; i < n && pos + 1 < t.size(); ++i, pos += 2) {
            log.logDebug("ByteA: %@ ByteB: %@", t[pos], t[pos + 1]);
            addDTCWithAByte(static_cast<uint32_t>(reply::byteValue(t[pos])),
                            static_cast<uint32_t>(reply::byteValue(t[pos + 1])), status);
        }
        return static_cast<int64_t>(m_codeArray.size());
    }
    return 0;
}

int64_t QZEBaseDiagnosticModule::decodeToyotaDataKLine(std::string_view text,
                                                       const std::string& status) {
    auto& log = QZELogging::shared();
    for (auto line : reply::lines(text)) {
        // <format> <target> <source> 53 [count] A B ... <checksum>
        auto t = reply::tokens(line);
        if (t.size() < 5 || t[3] != "53" || reply::isDamagedLine(t)) continue;
        int length = reply::byteValue(t[0]) & 0x3F;
        size_t n = 0;
        if (length >= 2 && length % 2 == 0) {
            n = static_cast<size_t>(reply::byteValue(t[4]));
            t.erase(t.begin() + 4);
        } else if (length > 0) {
            n = static_cast<size_t>((length - 1) / 2);
        }
        if (2 * n + 5 > t.size()) {
            log.logError("Invalid byte count on line, aborting.");
            return 0;
        }
        for (size_t i = 0, pos = 4; i < n && pos + 1 < t.size(); ++i, pos += 2) {
            log.logVerbose("Code: %@%@", t[pos], t[pos + 1]);
            addCodeUnlessFiller(
                reply::j2012Code(reply::byteValue(t[pos]), reply::byteValue(t[pos + 1])), status);
        }
    }
    return static_cast<int64_t>(m_codeArray.size());
}

int64_t QZEBaseDiagnosticModule::decodeExtendedCANBroadcast(std::string_view text,
                                                            bool useExtendedCan,
                                                            const std::string& status) {
    auto& log = QZELogging::shared();
    log.logVerbose("Toyota decode str: %@", text);
    if (text.size() < 10) return 0;
    if (QZENaks::isNAK(text) && !QZENaks::holdsAnswer(text)) return 0;
    if (text.find("53") == std::string_view::npos) {
        log.logVerbose("Improper response received  ");
        return 0;
    }
    // The first answer: negative responses ("response pending") before it are passed over.
    const auto messages = useExtendedCan ? reply::extendedMessages(text) : reply::canMessages(text);
    for (const auto& message : messages) {
        if (reply::isNegative(message)) continue;
        auto at = std::find(message.begin(), message.end(), "53");
        if (at == message.end()) continue;
        if (at + 1 == message.end()) return 0;
        size_t n = static_cast<size_t>(reply::byteValue(*(at + 1)));
        if (n == 0) return 0;
        size_t pos = static_cast<size_t>(at - message.begin()) + 2;
        n = std::min(n, (message.size() - pos) / 2);
        for (size_t i = 0; i < n; ++i, pos += 2)
            addDTCWithAByte(static_cast<uint32_t>(reply::byteValue(message[pos])),
                            static_cast<uint32_t>(reply::byteValue(message[pos + 1])), status);
        return static_cast<int64_t>(m_codeArray.size());
    }
    return 0;
}

}  // namespace qz
