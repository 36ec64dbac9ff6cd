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

std::string shortestNumberText(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buf[64];
    double magnitude = std::fabs(value);
    bool plain = magnitude == 0.0 || (magnitude >= 1e-4 && magnitude < 9007199254740992.0);
    auto res = std::to_chars(buf, buf + sizeof buf, value,
                             plain ? std::chars_format::fixed : std::chars_format::scientific);
    std::string text(buf, res.ptr);
    if (plain && text.find('.') == std::string::npos) text += ".0";
    return text;
}

std::string fixedNumberText(double value) {
    char buf[512];
    std::snprintf(buf, sizeof buf, "%f", value);
    return buf;
}

}  // namespace qz
