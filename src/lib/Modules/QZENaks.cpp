#include "lib/Modules/QZENaks.hpp"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string>

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include "lib/Decoders/QZEModuleReply.hpp"
#include "lib/Facades/QZEVehicle.hpp"

namespace qz {

namespace {

struct Family {
    int64_t bit;
    std::array<int, 4> codes;  // -1: none
};

constexpr std::array<Family, 8> kFamilies = {{
    {QZENaks::NakBusy, kBusyCodes},
    {QZENaks::NakSubFunction, {0x12, -1, -1, -1}},
    {QZENaks::NakServiceNotSupported, {0x11, -1, -1, -1}},
    {QZENaks::NakOutOfRange, {0x31, -1, -1, -1}},
    {QZENaks::NakResponsePending, {0x78, -1, -1, -1}},
    {QZENaks::NakConditionsNotCorrect, {0x22, -1, -1, -1}},
    {QZENaks::NakMessageLength, {0x13, -1, -1, -1}},
    {QZENaks::NakNotInActiveSession, {0x7E, -1, -1, -1}},
}};

// The reply's negative response: its code, -1 when cut off before it; none when the reply is
// no negative response.
std::optional<int> negativeCode(std::string_view reply) {
    QZEAsked any;
    any.positive = QZEAsked::kAnyByte;  // any other message is an answer
    any.display = QZEVehicle::TheVehicle().displayForm();
    const auto classified = QZEModuleReply::classify(reply, any);
    switch (classified.kind) {
        case QZEReplyKind::refusal:
        case QZEReplyKind::pending:
        case QZEReplyKind::busy:
            return classified.code;
        default:
            return std::nullopt;
    }
}

}  // namespace

bool QZENaks::response(std::string_view reply, int64_t mask) {
    const auto code = negativeCode(reply);
    if (!code || *code < 0) return false;
    for (const auto& family : kFamilies)
        if ((mask & family.bit) &&
            std::find(family.codes.begin(), family.codes.end(), *code) != family.codes.end())
            return true;
    return false;
}

bool QZENaks::isNAK(std::string_view reply) {
    return negativeCode(reply).has_value();
}

bool QZENaks::doesStringMatchRegex(std::string_view text, std::string_view pattern) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(
        icu::UnicodeString::fromUTF8(icu::StringPiece(pattern.data(), pattern.size())),
        UREGEX_CASE_INSENSITIVE, status));
    if (U_FAILURE(status) || !compiled) return false;
    auto input = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), text.size()));
    std::unique_ptr<icu::RegexMatcher> matcher(compiled->matcher(input, status));
    if (U_FAILURE(status)) return false;
    const bool found = matcher->find(status);
    return U_SUCCESS(status) && found;
}

}  // namespace qz
