// GMLAN replies: one line per code, "81 A B <failure type> <status> ...".

#include "lib/Decoders/QZEModuleReply.hpp"
#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace qz {

namespace {

// A message as its line shows it: the bytes with a blank between them.
std::string shown(const QZEMessageBytes& message) {
    std::string out;
    for (const auto& byte : message) out += (out.empty() ? "" : " ") + byte;
    return out;
}

}  // namespace

int64_t QZEBaseDiagnosticModule::decodeEnhancedCodesCANGMJ2012(std::string_view text) {
    auto& log = QZELogging::shared();
    log.logVerbose("In this STRING: %@ there are %d codes", text,
                   static_cast<int>(reply::lines(text).size()));
    QZEAsked asked;
    asked.positive = 0x81;
    asked.display = displayed();
    for (const auto& message : readableMessages(QZEModuleReply::classify(text, asked)))
        decodeGmlanMessage(message);
    return static_cast<int64_t>(m_codeArray.size());
}

void QZEBaseDiagnosticModule::decodeGmlanMessage(const QZEMessageBytes& t) {
    auto& log = QZELogging::shared();
    log.logVerbose("item: %@", shown(t));
    // A whole frame: 81, A, B, failure type, status and three more bytes.
    if (t.size() < 8) {
        log.logInfo("Unexpected line format, skipping line: %@", shown(t));
        return;
    }
    int s = reply::byteValue(t[4]);
    std::string status = (s & 0x80) ? "MIL" : "";
    if (s & 0x10) status = "HISTORY/" + status;
    if (s & 0x02) status = "CURRENT/" + status;
    if (status.ends_with('/')) status.pop_back();
    std::string code = reply::j2012Code(reply::byteValue(t[1]), reply::byteValue(t[2]));
    log.logVerbose("CODE %@ STATUS %@", code, status);
    addCodeUnlessFiller(code, status);
}

}  // namespace qz
