// GMLAN replies: one line per code, "81 A B <failure type> <status> ...".

#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace qz {

int64_t QZEBaseDiagnosticModule::decodeEnhancedCodesCANGMJ2012(std::string_view text) {
    auto& log = QZELogging::shared();
    auto lines = reply::lines(text);
    log.logVerbose("In this STRING: %@ there are %d codes", text, static_cast<int>(lines.size()));
    reply::Identifiers identifiers;
    for (auto line : lines) {
        auto t = reply::tokens(line);
        // The identifier that headers-on replies show (alone or before a frame) is not part of
        // a code line; a reply with headers off starts with "81" and keeps it.
        const size_t identifier = identifiers.at(t);
        if (identifier > 0 && t.size() == identifier) continue;
        if (line.size() < 8) break;
        log.logVerbose("item: %@", line);
        if (reply::isDamagedLine(t)) {
            log.logInfo("Damaged frame, skipping line: %@", line);
            continue;
        }
        t.erase(t.begin(), t.begin() + static_cast<std::ptrdiff_t>(identifier));
        if (t.empty() || t[0] != "81" || t.size() - 1 <= 6) {
            log.logInfo("Unexpected line format, skipping line: %@", line);
            continue;
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
    return static_cast<int64_t>(m_codeArray.size());
}

}  // namespace qz
