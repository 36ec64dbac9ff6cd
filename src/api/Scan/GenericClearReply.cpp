#include "api/Scan/GenericClearReply.hpp"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Modules/QZENaks.hpp"

namespace qz {

namespace {

constexpr std::string_view kNegative = "7F";
constexpr std::string_view kResponsePending = "78";
// Where a message may begin in a line printed without blanks: at its start, behind an 11-bit
// identifier or K-line and J1850 header bytes, behind a PCI byte; behind a 29-bit identifier
// (one that begins as diagnostic ones do, 18 DA F1 ...).
constexpr size_t kMessageStarts[] = {0, 2, 3, 5, 6};
constexpr size_t kWideMessageStarts[] = {8, 10};

enum class Line { nothing, answer, refusal, pending };

Line classify(std::string_view raw) {
    const auto tokens = reply::tokens(raw);
    // The line upper-cased, without blanks.
    std::string bare;
    for (auto t : tokens)
        for (char c : t) bare += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (bare.empty() || bare == "KQCC") return Line::nothing;  // blank, or the echo
    // The protocol search, the bus initialisation when it worked.
    if (reply::isNotice(raw)) return Line::nothing;
    if (bare == "OK") return Line::answer;  // the sensor's own confirmation
    // Anything but bytes is a refusal, an error word or junk.
    if (!std::all_of(tokens.begin(), tokens.end(), reply::isHexToken)) return Line::refusal;
    // A negative response to any service, whole or cut short, where a message begins (a 7F
    // elsewhere, a checksum say, is a byte of the answer), behind a header or not.
    if (tokens.size() > 1) {
        if (QZENaks::response(raw, QZENaks::NakResponsePending)) return Line::pending;
        reply::Identifiers identifiers;
        const bool negative =
            QZENaks::isNAK(raw) || QZENaks::isCutShortNegative(tokens, identifiers.at(tokens));
        return negative ? Line::refusal : Line::answer;
    }
    const std::string_view line = bare;
    std::vector<size_t> starts(std::begin(kMessageStarts), std::end(kMessageStarts));
    const int priority = reply::byteValue(line.substr(0, 2));
    if (priority >= 0x08 && priority <= 0x1F)
        starts.insert(starts.end(), std::begin(kWideMessageStarts), std::end(kWideMessageStarts));
    for (size_t at : starts) {
        if (line.substr(std::min(at, line.size()), 2) != kNegative) continue;
        const size_t code = at + kNegative.size() + 2;
        return line.substr(std::min(code, line.size())).starts_with(kResponsePending)
                   ? Line::pending
                   : Line::refusal;
    }
    return Line::answer;
}

}  // namespace

bool genericClearConfirmed(std::string_view reply) {
    // The reply ends at the prompt; what came after it in the same chunk is not part of it.
    reply = reply.substr(0, reply.find('>'));
    bool answered = false;
    bool pending = false;
    size_t at = 0;
    while (at <= reply.size()) {
        const size_t end = std::min(reply.find_first_of("\r\n", at), reply.size());
        const Line line = classify(reply.substr(at, end - at));
        at = end + 1;
        switch (line) {
            case Line::refusal:
                return false;
            case Line::pending:
                pending = true;
                break;
            case Line::answer:
                answered = true;
                pending = false;
                break;
            case Line::nothing:
                break;
        }
    }
    return answered && !pending;
}

}  // namespace qz
