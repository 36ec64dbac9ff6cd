#include "api/PIDs/PID.hpp"

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

void appendShortestNumberText(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "nan";
        return;
    }
    if (std::isinf(value)) {
        out += value < 0 ? "-inf" : "inf";
        return;
    }
    char buf[64];
    double magnitude = std::fabs(value);
    bool plain = magnitude == 0.0 || (magnitude >= 1e-4 && magnitude < 9007199254740992.0);
    if (plain && magnitude >= 1.0 && value == std::trunc(value)) {
        // A whole number below 2^53 is exact: its digits are the shortest text.
        auto res = std::to_chars(buf, buf + sizeof buf, static_cast<int64_t>(value));
        out.append(buf, res.ptr);
        out += ".0";
        return;
    }
    auto res = std::to_chars(buf, buf + sizeof buf, value,
                             plain ? std::chars_format::fixed : std::chars_format::scientific);
    const std::string_view text(buf, static_cast<size_t>(res.ptr - buf));
    out += text;
    if (plain && text.find('.') == std::string_view::npos) out += ".0";
}

std::string shortestNumberText(double value) {
    std::string text;
    appendShortestNumberText(text, value);
    return text;
}

std::string fixedNumberText(double value) {
    char buf[512];
    std::snprintf(buf, sizeof buf, "%f", value);
    return buf;
}

}  // namespace qz
