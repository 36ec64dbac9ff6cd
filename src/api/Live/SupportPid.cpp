#include "api/Live/SupportPid.hpp"

#include <cctype>
#include <cstdio>
#include <optional>

#include "api/Logging/Log.hpp"
#include "api/PIDs/HexText.hpp"

namespace qz {

namespace {

// Every token (split at white space, the prompt dropped) is made of hexadecimal digits.
bool holdsOnlyHexTokens(const std::string& response) {
    std::string digits;
    for (char c : response)
        if (!std::isspace(static_cast<unsigned char>(c)) && c != '>') digits += c;
    return !digits.empty() && isHex(digits);
}

std::optional<uint32_t> bitmapOf(const std::string& response) {
    if (!holdsOnlyHexTokens(response)) return std::nullopt;
    static constexpr std::string_view kDigits = "01234567890ABCDEF";
    uint64_t v = 0;
    bool any = false;
    for (char c : response) {
        if (kDigits.find(c) == std::string_view::npos) continue;
        any = true;
        v = v * 16 + static_cast<uint64_t>(c <= '9' ? c - '0' : c - 'A' + 10);
        if (v > UINT32_MAX) return std::nullopt;
    }
    if (!any) return std::nullopt;
    return static_cast<uint32_t>(v);
}

}  // namespace

bool SupportPid::setSupport(const std::string& response) {
    if (auto v = bitmapOf(response)) {
        for (int k = 0; k < 32; ++k) supportArray[k] = ((*v >> (31 - k)) & 1u) != 0;
    }
    std::string line;
    for (int k = 0; k < 32; ++k) {
        char num[8];
        std::snprintf(num, sizeof num, "%02X", static_cast<unsigned>((pid + 1 + k) & 0xFFFF));
        line += num;
        line += ":";
        line += supportArray[k] ? "\u2705" : "\u274C";
    }
    Log::i(line);
    return supportArray[31];
}

}  // namespace qz
