#include "api/PIDs/PID.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "api/PIDs/HexText.hpp"

namespace qz {

std::vector<uint8_t> readableBytes(const std::vector<std::string>& data) {
    std::vector<uint8_t> out;
    out.reserve(data.size());
    for (const auto& text : data)
        if (auto b = parseByte(text)) out.push_back(*b);
    return out;
}

std::optional<uint8_t> readableByteAt(const std::vector<std::string>& data, int64_t index) {
    if (index < 0) return std::nullopt;
    for (const auto& text : data) {
        auto b = parseByte(text);
        if (b && index-- == 0) return b;
    }
    return std::nullopt;
}

namespace {

constexpr uint64_t kPowersOfTen[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// The fixed text of `magnitude` (1e-4 <= magnitude, not whole) when a text with at most eight
// decimals reads back as it, else nullptr. Such a text reads back as magnitude also with its
// decimals padded to eight, and below 1e7 the texts with eight decimals lie further apart than
// the doubles round magnitude, so only the nearest one, n / 10^8, can read back; n's trailing
// zeros give the fewest decimals, the text to_chars writes.
char* writeShortDecimal(char* out, double magnitude) {
    const double scaled = magnitude * 1e8;
    if (!(scaled < 1e15)) return nullptr;
    uint64_t n = static_cast<uint64_t>(scaled + 0.5);
    // n and 10^8 are exact, so the quotient is the double the text reads back as.
    if (static_cast<double>(n) / 1e8 != magnitude) return nullptr;
    int decimals = 8;
    while (decimals > 1 && n % 10 == 0) {
        n /= 10;
        --decimals;
    }
    const uint64_t unit = kPowersOfTen[decimals];
    out = std::to_chars(out, out + 20, n / unit).ptr;
    *out++ = '.';
    uint64_t fraction = n % unit;
    for (int d = decimals; d-- > 0; fraction /= 10) out[d] = static_cast<char>('0' + fraction % 10);
    return out + decimals;
}

}  // namespace

char* writeShortestNumberText(char* out, double value) {
    if (std::isnan(value)) return std::copy_n("nan", 3, out);
    if (std::isinf(value))
        return value < 0 ? std::copy_n("-inf", 4, out) : std::copy_n("inf", 3, out);
    const double magnitude = std::fabs(value);
    const bool plain = magnitude == 0.0 || (magnitude >= 1e-4 && magnitude < 9007199254740992.0);
    if (plain && magnitude >= 1.0 && value == std::trunc(value)) {
        // A whole number below 2^53 is exact: its digits are the shortest text.
        out = std::to_chars(out, out + 24, static_cast<int64_t>(value)).ptr;
        return std::copy_n(".0", 2, out);
    }
    if (plain && magnitude != 0.0) {
        char* digits = out;
        if (value < 0) *digits++ = '-';
        if (char* end = writeShortDecimal(digits, magnitude)) return end;
    }
    char* const first = out;
    out = std::to_chars(out, out + kShortestNumberTextMax - 2, value,
                        plain ? std::chars_format::fixed : std::chars_format::scientific)
              .ptr;
    if (plain && std::find(first, out, '.') == out) out = std::copy_n(".0", 2, out);
    return out;
}

void appendShortestNumberText(std::string& out, double value) {
    char buf[kShortestNumberTextMax];
    out.append(buf, writeShortestNumberText(buf, value));
}

std::string shortestNumberText(double value) {
    char buf[kShortestNumberTextMax];
    return std::string(buf, writeShortestNumberText(buf, value));
}

std::string fixedNumberText(double value) {
    char buf[512];
    std::snprintf(buf, sizeof buf, "%f", value);
    return buf;
}

}  // namespace qz
