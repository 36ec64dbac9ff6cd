#include "api/Scan/GenericClearReply.hpp"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "lib/Decoders/QZEReplyText.hpp"

namespace qz {

namespace {

// Parts of the sensor's own words that refuse a command or report a bus fault.
constexpr std::string_view kRefusals[] = {"NO DATA",   "ERR",     "UNABLE TO CONNECT",
                                          "BUS BUSY",  "STOPPED", "BUFFER FULL",
                                          "ACT ALERT", "LV RESET"};

// The negative response to the clear service (04).
constexpr std::string_view kNegativeClear = "7F04";
constexpr std::string_view kResponsePending = "78";

std::string upperCased(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

enum class Line { nothing, answer, refusal, pending };

Line classify(std::string_view raw) {
    std::string line = upperCased(raw);
    std::erase(line, '>');
    const auto tokens = reply::tokens(line);
    if (tokens.empty()) return Line::nothing;
    std::string bare;
    for (auto t : tokens) bare += t;
    if (bare == "KQCC") return Line::nothing;                 // the echo
    if (bare.starts_with("SEARCHING")) return Line::nothing;  // the protocol search, no answer
    if (bare == "?") return Line::refusal;
    for (auto refusal : kRefusals)
        if (line.find(refusal) != std::string::npos) return Line::refusal;
    if (!std::all_of(tokens.begin(), tokens.end(), reply::isHexToken)) return Line::answer;
    // Spaced or not, behind a header or not: the negative response and its code.
    const size_t negative = bare.find(kNegativeClear);
    if (negative == std::string::npos) return Line::answer;
    const std::string_view code = std::string_view(bare).substr(negative + kNegativeClear.size());
    return code.starts_with(kResponsePending) ? Line::pending : Line::refusal;
}

}  // namespace

bool genericClearConfirmed(std::string_view reply) {
    // A reply with nothing in it (only the prompt, the echo or blank lines) confirms nothing.
    bool answered = false;
    bool pending = false;
    size_t at = 0;
    while (at <= reply.size()) {
        const size_t end = std::min(reply.find_first_of("\r\n", at), reply.size());
        switch (classify(reply.substr(at, end - at))) {
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
        at = end + 1;
    }
    return answered && !pending;
}

}  // namespace qz
