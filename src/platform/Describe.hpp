#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace qz {

// Texts of values as the log lines show them.
//
// `describe(v)` is the plain description (a text unchanged, numbers in decimal,
// "true"/"false", "(Function)" for callables, "N bytes" for `Data`, "Optional(...)"/"nil"
// for optionals, "[a, b]" for lists); `debugDescribe(v)` is the same except that texts
// are quoted and escaped as string literals. Enumerations get their case names from a
// `describe(E)` function found next to the enumeration's declaration.

// `s` in double quotes with quotes, backslashes and control characters escaped:
// \" \' \\ \n \r \t \0 and \u{X} for the other control characters.
std::string stringLiteral(std::string_view s);
// The same as `stringLiteral`. Call it qualified (`qz::quoted`): unqualified calls with a
// std::string argument also find std::quoted.
inline std::string quoted(std::string_view s) {
    return stringLiteral(s);
}

std::string describe(const std::string& s);
std::string describe(std::string_view s);
std::string describe(const char* s);
std::string describe(bool b);
std::string describe(char c);
std::string describe(long long v);
std::string describe(unsigned long long v);
std::string describe(int v);
std::string describe(unsigned v);
std::string describe(long v);
std::string describe(unsigned long v);
std::string describe(short v);
std::string describe(unsigned short v);
std::string describe(signed char v);
std::string describe(unsigned char v);
// Shortest text that reads back to the same value, with ".0" on whole numbers
// ("1.0", "0.1", "1e-05", "1e+16", "nan", "inf").
std::string describe(double v);
std::string describe(float v);
// "N bytes".
std::string describe(const std::vector<uint8_t>& data);
std::string describe(std::nullptr_t);

template <class R, class... A>
std::string describe(const std::function<R(A...)>&) {
    return "(Function)";
}

std::string debugDescribe(const std::string& s);
std::string debugDescribe(std::string_view s);
std::string debugDescribe(const char* s);

template <class T>
std::string debugDescribe(const T& v);

template <class T>
std::string describe(const std::optional<T>& v) {
    return v ? "Optional(" + debugDescribe(*v) + ")" : "nil";
}

template <class T>
requires(!std::same_as<T, uint8_t>) std::string describe(const std::vector<T>& list) {
    std::string out = "[";
    for (size_t i = 0; i < list.size(); ++i) {
        if (i) out += ", ";
        out += debugDescribe(list[i]);
    }
    return out + "]";
}

template <class K, class V>
std::string describe(const std::map<K, V>& map) {
    if (map.empty()) return "[:]";
    std::string out = "[";
    bool first = true;
    for (const auto& [k, v] : map) {
        if (!first) out += ", ";
        first = false;
        out += debugDescribe(k) + ": " + debugDescribe(v);
    }
    return out + "]";
}

template <class T>
std::string debugDescribe(const T& v) {
    return describe(v);
}

}  // namespace qz
