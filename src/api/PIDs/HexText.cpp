#include "api/PIDs/HexText.hpp"

namespace qz {
namespace {

std::string hexDigits(uint64_t v, bool uppercase) {
    const char* digits = uppercase ? "0123456789ABCDEF" : "0123456789abcdef";
    char buf[16];
    size_t n = 0;
    do {
        buf[sizeof buf - 1 - n++] = digits[v & 0xF];
        v >>= 4;
    } while (v);
    return std::string(buf + sizeof buf - n, n);
}

}  // namespace

std::string asTwoDigitHex(uint64_t value, bool uppercase) {
    std::string s = hexDigits(value, uppercase);
    return s.size() < 2 ? std::string(1, '0') + s : s;
}

std::string asTwoDigitHex(int64_t value, bool uppercase) {
    if (value >= 0) return asTwoDigitHex(static_cast<uint64_t>(value), uppercase);
    // Magnitude without overflow for INT64_MIN.
    std::string s(1, '-');
    s += hexDigits(0 - static_cast<uint64_t>(value), uppercase);
    return s;
}

bool isHex(std::string_view text) {
    for (char ch : text)
        if (hexDigitValue(ch) < 0) return false;
    return true;
}

std::optional<uint64_t> parseHex64(std::string_view text) {
    if (text.empty()) return std::nullopt;
    uint64_t v = 0;
    int significant = 0;
    for (char ch : text) {
        int d = hexDigitValue(ch);
        if (d < 0) return std::nullopt;
        if (significant == 0 && d == 0) continue;
        if (++significant > 16) return std::nullopt;
        v = (v << 4) | static_cast<uint64_t>(d);
    }
    return v;
}

std::optional<uint8_t> parseByte(std::string_view text) {
    if (text.size() == 2) {
        const int high = hexDigitValue(text[0]), low = hexDigitValue(text[1]);
        if ((high | low) < 0) return std::nullopt;
        return static_cast<uint8_t>(high << 4 | low);
    }
    auto v = parseHex64(text);
    if (!v || *v > 0xFF) return std::nullopt;
    return static_cast<uint8_t>(*v);
}

}  // namespace qz
