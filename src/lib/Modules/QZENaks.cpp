#include "lib/Modules/QZENaks.hpp"

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include "lib/Decoders/QZEReplyText.hpp"

namespace qz {

namespace {

// The negative-response pattern with "%@" standing for the response-code group. Commas are
// members of the character classes, as the pattern has always been written.
constexpr std::string_view kNakPattern =
    R"(^([A-F,a-f,0-9]{2,}\s)?(([A-F,a-f,0-9]{2})\s){0,3}7[Ff]\s([A-F,a-f,0-9]{2})\s%@.*(\s)?(>)?)";

std::unique_ptr<icu::RegexPattern> compile(std::string_view pattern) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(
        icu::UnicodeString::fromUTF8(icu::StringPiece(pattern.data(), pattern.size())),
        UREGEX_CASE_INSENSITIVE, status));
    if (U_FAILURE(status)) return nullptr;
    return compiled;
}

std::unique_ptr<icu::RegexPattern> nakPattern(std::string_view group) {
    size_t at = kNakPattern.find("%@");
    std::string pattern;
    pattern.append(kNakPattern.substr(0, at)).append(group).append(kNakPattern.substr(at + 2));
    return compile(pattern);
}

bool matchesText(const icu::RegexPattern& pattern, std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    auto input = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), text.size()));
    std::unique_ptr<icu::RegexMatcher> matcher(pattern.matcher(input, status));
    if (U_FAILURE(status)) return false;
    bool found = matcher->find(status);
    return U_SUCCESS(status) && found;
}

// A reply whose identifier is printed as four bytes is matched with it as one token.
bool matches(const icu::RegexPattern& pattern, std::string_view reply) {
    if (auto joined = reply::withJoinedIdentifier(reply)) return matchesText(pattern, *joined);
    return matchesText(pattern, reply);
}

struct Family {
    int64_t bit;
    const char* group;
};

// In the order they are tried.
constexpr std::array<Family, 8> kFamilies = {{
    {QZENaks::NakBusy, "(21|37|10|23)"},
    {QZENaks::NakSubFunction, "(12)"},
    {QZENaks::NakServiceNotSupported, "(11)"},
    {QZENaks::NakOutOfRange, "(31)"},
    {QZENaks::NakResponsePending, "(78)"},
    {QZENaks::NakConditionsNotCorrect, "(22)"},
    {QZENaks::NakMessageLength, "(13)"},
    {QZENaks::NakNotInActiveSession, "(7E)"},
}};

// Compiled once; a compiled pattern is safe to share between threads.
struct Patterns {
    std::unique_ptr<icu::RegexPattern> any = nakPattern("([A-F,a-f,0-9]{2})");
    std::array<std::unique_ptr<icu::RegexPattern>, kFamilies.size()> families;
    Patterns() {
        for (size_t i = 0; i < kFamilies.size(); ++i) families[i] = nakPattern(kFamilies[i].group);
    }
};

const Patterns& patterns() {
    static const Patterns* instance = new Patterns();
    return *instance;
}

}  // namespace

bool QZENaks::response(std::string_view reply, int64_t mask) {
    const auto& p = patterns();
    for (size_t i = 0; i < kFamilies.size(); ++i)
        if ((mask & kFamilies[i].bit) && matches(*p.families[i], reply)) return true;
    return false;
}

bool QZENaks::isNAK(std::string_view reply) {
    return matches(*patterns().any, reply);
}

namespace {

enum class Line { none, negative, message };

// What one line of a reply holds: no message bytes (empty, an identifier alone, the sensor's
// words), a negative response (whole or cut short), or message bytes.
Line lineOf(std::string_view line, reply::Identifiers& identifiers) {
    const auto t = reply::tokens(line);
    const size_t id = identifiers.at(t);
    if (t.size() <= id) return Line::none;
    if (QZENaks::isNAK(line) || QZENaks::isCutShortNegative(t, id)) return Line::negative;
    if (std::any_of(t.begin() + static_cast<std::ptrdiff_t>(id), t.end(), reply::isByte))
        return Line::message;
    return Line::none;
}

bool isPci(std::string_view token) {
    if (!reply::isByte(token)) return false;
    const int pci = reply::byteValue(token);
    return pci >= 1 && pci <= 7;
}

}  // namespace

bool QZENaks::holdsAnswer(std::string_view reply) {
    reply::Identifiers identifiers;
    for (auto line : reply::lines(reply))
        if (lineOf(line, identifiers) == Line::message) return true;
    return false;
}

bool QZENaks::isRefusalOnly(std::string_view reply) {
    reply::Identifiers identifiers;
    bool negative = false;
    for (auto line : reply::lines(reply)) {
        switch (lineOf(line, identifiers)) {
            case Line::message:
                return false;
            case Line::negative:
                negative = true;
                break;
            case Line::none:
                break;
        }
    }
    return negative;
}

bool QZENaks::isCutShortNegative(const reply::Tokens& t, size_t identifier) {
    if (t.size() <= identifier || !std::all_of(t.begin(), t.end(), reply::isHexToken)) return false;
    const size_t at = identifier;
    const bool tester =
        t.size() > at + 1 && reply::isByte(t[at]) && reply::byteValue(t[at]) >= 0x80;
    std::vector<size_t> starts = {at};
    if (t.size() > at + 1 && isPci(t[at])) starts.push_back(at + 1);                // single frame
    if (t.size() > at + 2 && tester && isPci(t[at + 1])) starts.push_back(at + 2);  // address
    // K-line format byte, or the tester as J1850 target: three header bytes.
    if (identifier == 0 && t.size() > 3 && std::all_of(t.begin(), t.begin() + 3, reply::isByte) &&
        (tester || reply::byteValue(t[1]) == 0xF1))
        starts.push_back(3);
    for (size_t start : starts) {
        if (!reply::isByte(t[start]) || reply::byteValue(t[start]) != 0x7F) continue;
        // Less than the service and the response code: no byte, one, or one and half of one.
        const size_t after = t.size() - start - 1;
        if (after <= 1 && (after == 0 || t[start + 1].size() <= 2)) return true;
        if (after == 2 && reply::isByte(t[start + 1]) && t[start + 2].size() == 1) return true;
    }
    return false;
}

bool QZENaks::doesStringMatchRegex(std::string_view text, std::string_view pattern) {
    auto compiled = compile(pattern);
    return compiled && matchesText(*compiled, text);
}

}  // namespace qz
