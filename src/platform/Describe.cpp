#include "platform/Describe.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace qz {

std::string stringLiteral(std::string_view s) {
    std::string out = "\"";
    for (char ch : s) {
        auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\'':
                out += "\\'";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\0':
                out += "\\0";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char buf[16];
                    std::snprintf(buf, sizeof buf, "\\u{%X}", c);
                    out += buf;
                } else {
                    out += ch;
                }
        }
    }
    return out + "\"";
}

std::string describe(const std::string& s) {
    return s;
}
std::string describe(std::string_view s) {
    return std::string(s);
}
std::string describe(const char* s) {
    return s ? std::string(s) : std::string("nil");
}
std::string describe(bool b) {
    return b ? "true" : "false";
}
std::string describe(char c) {
    return std::string(1, c);
}
std::string describe(long long v) {
    return std::to_string(v);
}
std::string describe(unsigned long long v) {
    return std::to_string(v);
}
std::string describe(int v) {
    return std::to_string(v);
}
std::string describe(unsigned v) {
    return std::to_string(v);
}
std::string describe(long v) {
    return std::to_string(v);
}
std::string describe(unsigned long v) {
    return std::to_string(v);
}
std::string describe(short v) {
    return std::to_string(v);
}
std::string describe(unsigned short v) {
    return std::to_string(v);
}
std::string describe(signed char v) {
    return std::to_string(v);
}
std::string describe(unsigned char v) {
    return std::to_string(v);
}
std::string describe(std::nullptr_t) {
    return "nil";
}

namespace {

template <class F>
std::string describeFloating(F v, F fixedLimit) {
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
    char buf[64];
    F a = std::fabs(v);
    bool fixed = a == 0 || (a >= F(1e-4) && a < fixedLimit);
    auto [end, ec] = fixed ? std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed)
                           : std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    std::string out(buf, ec == std::errc() ? end : buf);
    if (fixed && out.find('.') == std::string::npos) out += ".0";
    return out;
}

}  // namespace

std::string describe(double v) {
    return describeFloating(v, 9007199254740992.0);
}  // 2^53
std::string describe(float v) {
    return describeFloating(v, 16777216.0f);
}  // 2^24

std::string describe(const std::vector<uint8_t>& data) {
    return std::to_string(data.size()) + " bytes";
}

std::string debugDescribe(const std::string& s) {
    return stringLiteral(s);
}
std::string debugDescribe(std::string_view s) {
    return stringLiteral(s);
}
std::string debugDescribe(const char* s) {
    return s ? stringLiteral(s) : std::string("nil");
}

}  // namespace qz
