#include "api/Scan/GenericClearReply.hpp"

#include <algorithm>
#include <cctype>
#include <string>

#include "lib/Decoders/QZEReplyText.hpp"

namespace qz {

namespace {

constexpr std::string_view kNegative = "7F";
constexpr std::string_view kResponsePending = "78";

enum class Line { nothing, answer, refusal, pending };

Line classify(std::string_view raw) {
    const auto tokens = reply::tokens(raw);
    // The line upper-cased, without blanks.
    std::string bare;
    for (auto t : tokens)
        for (char c : t) bare += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (bare.empty() || bare == "KQCC") return Line::nothing;  // blank, or the echo
    if (bare.starts_with("SEARCHING")) return Line::nothing;   // the protocol search
    // The bus initialisation's notice, when it worked.
    if (bare.starts_with("BUSINIT:") && !reply::holdsSensorError(bare)) return Line::nothing;
    if (bare == "OK") return Line::answer;  // the sensor's own confirmation
    // Anything but bytes is a refusal, an error word or junk.
    if (!std::all_of(tokens.begin(), tokens.end(), reply::isHexToken)) return Line::refusal;
    // Spaced or not, behind a header or not: a negative response to any service, whole or cut
    // short.
    const size_t negative = bare.find(kNegative);
    if (negative == std::string::npos) return Line::answer;
    const size_t code = negative + kNegative.size() + 2;
    if (code < bare.size() && std::string_view(bare).substr(code).starts_with(kResponsePending))
        return Line::pending;
    return Line::refusal;
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
