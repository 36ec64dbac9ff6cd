#include "api/Scan/GenericClearReply.hpp"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

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

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < line.size()) {
        const size_t begin = line.find_first_not_of(" \t", at);
        if (begin == std::string::npos) break;
        const size_t end = std::min(line.find_first_of(" \t", begin), line.size());
        out.push_back(line.substr(begin, end - begin));
        at = end;
    }
    return out;
}

bool isHex(const std::string& token) {
    return !token.empty() && std::all_of(token.begin(), token.end(),
                                         [](unsigned char c) { return std::isxdigit(c) != 0; });
}

enum class Line { nothing, answer, refusal, pending };

Line classify(std::string_view raw) {
    std::string line = upperCased(raw);
    std::erase(line, '>');
    const auto tokens = words(line);
    if (tokens.empty()) return Line::nothing;
    std::string bare;
    for (const auto& t : tokens) bare += t;
    if (bare == "KQCC") return Line::nothing;                 // the echo
    if (bare.starts_with("SEARCHING")) return Line::nothing;  // the protocol search, no answer
    if (bare == "?") return Line::refusal;
    for (auto refusal : kRefusals)
        if (line.find(refusal) != std::string::npos) return Line::refusal;
    if (!std::all_of(tokens.begin(), tokens.end(), isHex)) return Line::answer;
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
