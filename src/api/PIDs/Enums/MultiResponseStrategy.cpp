#include "api/PIDs/Enums/MultiResponseStrategy.hpp"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

namespace qz {
namespace {

// Decodes one UTF-8 code point at `i`, advancing `i`. Malformed bytes decode as themselves.
char32_t nextCodePoint(std::string_view s, size_t& i) {
    auto b0 = static_cast<unsigned char>(s[i]);
    int len = b0 < 0x80           ? 1
              : (b0 >> 5) == 0x6  ? 2
              : (b0 >> 4) == 0xE  ? 3
              : (b0 >> 3) == 0x1E ? 4
                                  : 1;
    if (i + len > s.size()) len = 1;
    char32_t cp = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    for (int k = 1; k < len; ++k) {
        auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            len = 1;
            cp = b0;
            break;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    i += len;
    return cp;
}

bool isLineBreak(char32_t c) {
    return c == U'\n' || c == U'\v' || c == U'\f' || c == U'\r' || c == 0x85 || c == 0x2028 ||
           c == 0x2029;
}

bool isSpace(char32_t c) {
    return c == U' ' || c == U'\t' || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

using Tokens = std::vector<std::string_view>;

std::vector<Tokens> tokenizedLines(std::string_view text) {
    std::vector<Tokens> lines(1);
    size_t tokenStart = std::string_view::npos;
    size_t i = 0;
    auto closeToken = [&](size_t end) {
        if (tokenStart != std::string_view::npos && end > tokenStart)
            lines.back().push_back(text.substr(tokenStart, end - tokenStart));
        tokenStart = std::string_view::npos;
    };
    while (i < text.size()) {
        size_t at = i;
        char32_t c = nextCodePoint(text, i);
        if (isLineBreak(c)) {
            closeToken(at);
            lines.emplace_back();
        } else if (isSpace(c)) {
            closeToken(at);
        } else if (tokenStart == std::string_view::npos) {
            tokenStart = at;
        }
    }
    closeToken(text.size());
    return lines;
}

std::optional<uint64_t> parseHex(std::string_view s, int maxDigits) {
    if (s.empty()) return std::nullopt;
    uint64_t v = 0;
    int significant = 0;
    for (char ch : s) {
        int d = (ch >= '0' && ch <= '9')   ? ch - '0'
                : (ch >= 'a' && ch <= 'f') ? ch - 'a' + 10
                : (ch >= 'A' && ch <= 'F') ? ch - 'A' + 10
                                           : -1;
        if (d < 0) return std::nullopt;
        if (significant == 0 && d == 0) continue;
        if (++significant > maxDigits) return std::nullopt;
        v = (v << 4) | static_cast<uint64_t>(d);
    }
    return v;
}

std::string join(const Tokens& tokens) {
    std::string out;
    for (size_t k = 0; k < tokens.size(); ++k) {
        if (k) out += ' ';
        out += tokens[k];
    }
    return out;
}

std::string orLines(const std::vector<const Tokens*>& kept) {
    std::vector<std::string> acc(kept.front()->begin(), kept.front()->end());
    for (const Tokens* line : kept) {
        for (size_t k = 0; k < acc.size() && k < line->size(); ++k) {
            auto a = parseHex(acc[k], 16);
            auto b = parseHex((*line)[k], 16);
            if (!a || !b) continue;
            char buf[24];
            std::snprintf(buf, sizeof buf, "%02llX", static_cast<unsigned long long>(*a | *b));
            acc[k] = buf;
        }
    }
    std::string out;
    for (size_t k = 0; k < acc.size(); ++k) {
        if (k) out += ' ';
        out += acc[k];
    }
    return out;
}

std::string pickLine(const std::vector<const Tokens*>& kept, bool largest) {
    std::vector<int64_t> values;
    for (const Tokens* line : kept) {
        std::string packed;
        for (auto t : *line) packed += t;
        auto v = parseHex(packed, 16);
        if (!v || *v > static_cast<uint64_t>(INT64_MAX)) return {};
        values.push_back(static_cast<int64_t>(*v));
    }
    size_t best = 0;
    for (size_t k = 1; k < values.size(); ++k) {
        if (largest ? values[k] > values[best] : values[k] < values[best]) best = k;
    }
    return join(*kept[best]);
}

}  // namespace

std::string MultiResponseStrategy::process(std::string_view response) const {
    if (case_ == unchanged) return std::string(response);
    auto lines = tokenizedLines(response);
    size_t widest = 0;
    for (const auto& l : lines) widest = std::max(widest, l.size());
    if (widest == 0) return {};
    std::vector<const Tokens*> kept;
    for (const auto& l : lines)
        if (l.size() == widest) kept.push_back(&l);
    switch (case_) {
        case bitwiseOr:
            return orLines(kept);
        case largestValue:
            return pickLine(kept, true);
        case smallestValue:
            return pickLine(kept, false);
        case unchanged:
            break;
    }
    return std::string(response);
}

}  // namespace qz
