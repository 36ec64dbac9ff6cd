// Toyota service 53 replies: "53", the count, then (A, B) pairs; on CAN, on K-line and as the
// broadcast answers of several control units.

#include <algorithm>

#include "lib/Decoders/QZEModuleReply.hpp"
#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace qz {

int64_t QZEBaseDiagnosticModule::decodeToyotaDataCAN(std::string_view text,
                                                     const std::string& status) {
    auto& log = QZELogging::shared();
    log.logDebug("Toyota decode str: %@", text);
    if (text.size() < 10) return 0;
    if (text.starts_with("53")) log.logDebug("Appending 00 for single frame");
    for (const auto& message : readableMessages(
             QZEModuleReply::classify(text, QZEAsked::of("13", QZEFraming::can, displayed())))) {
        if (message.size() < 4) return 0;
        decodeToyotaMessage(message, status);
        return static_cast<int64_t>(m_codeArray.size());
    }
    return 0;
}

int64_t QZEBaseDiagnosticModule::decodeToyotaDataKLine(std::string_view text,
                                                       const std::string& status) {
    QZEAsked asked = QZEAsked::of("13", QZEFraming::kLine, displayed());
    asked.records = QZERecordLayout::toyotaKLine();
    const auto answer = QZEModuleReply::classify(text, asked);
    // Cut short, a message's length no longer tells whether a count follows its response byte;
    // one whose count its length does not give, or a damaged one, holds no code either.
    if (answer.kind == QZEReplyKind::cutShort || answer.kind == QZEReplyKind::damaged)
        QZELogging::shared().logError("Invalid byte count on line, aborting.");
    for (size_t i = 0; i < answer.messages.size(); ++i)
        if (answer.whole[i]) decodeToyotaMessage(answer.messages[i], status, true);
    return static_cast<int64_t>(m_codeArray.size());
}

int64_t QZEBaseDiagnosticModule::decodeExtendedCANBroadcast(std::string_view text,
                                                            bool useExtendedCan,
                                                            const std::string& status) {
    auto& log = QZELogging::shared();
    log.logVerbose("Toyota decode str: %@", text);
    if (text.size() < 10) return 0;
    const auto answer = QZEModuleReply::classify(
        text, QZEAsked::of("13", useExtendedCan ? QZEFraming::canExtended : QZEFraming::can,
                           displayed()));
    const auto messages = readableMessages(answer);
    if (messages.empty()) {
        const bool negative = answer.kind == QZEReplyKind::refusal ||
                              answer.kind == QZEReplyKind::pending ||
                              answer.kind == QZEReplyKind::busy;
        if (!negative && text.find("53") == std::string_view::npos)
            log.logVerbose("Improper response received  ");
        return 0;
    }
    // The first answer: negative responses ("response pending") before it are passed over.
    const auto& message = messages.front();
    if (message.size() < 2 || reply::byteValue(message[1]) == 0) return 0;
    decodeToyotaMessage(message, status);
    return static_cast<int64_t>(m_codeArray.size());
}

void QZEBaseDiagnosticModule::decodeToyotaMessage(const QZEMessageBytes& message,
                                                  const std::string& status, bool kLine) {
    auto& log = QZELogging::shared();
    // "53 <count> A B ...": on CAN at least one pair is read even when the count says none; on
    // K-line a message of odd length holds no count, its pairs following the response byte.
    const auto layout = kLine ? QZERecordLayout::toyotaKLine() : QZERecordLayout::toyota();
    size_t pos = layout.headOf(message.size());
    if (message.size() < pos) return;
    size_t n = (message.size() - pos) / 2;
    if (layout.counted(message.size())) {
        const auto count = static_cast<size_t>(reply::byteValue(message[1]));
        n = std::min(kLine ? count : std::max<size_t>(count, 1), n);
    }
    for (size_t i = 0; i < n; ++i, pos += 2) {
        if (kLine)
            log.logVerbose("Code: %@%@", message[pos], message[pos + 1]);
        else
            log.logDebug("ByteA: %@ ByteB: %@", message[pos], message[pos + 1]);
        addDTCWithAByte(static_cast<uint32_t>(reply::byteValue(message[pos])),
                        static_cast<uint32_t>(reply::byteValue(message[pos + 1])), status);
    }
}

}  // namespace qz
