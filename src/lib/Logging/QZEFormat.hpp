#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace qz {

// One argument of an engine format text.
struct FormatArg {
    enum class Kind { integer, unsignedInteger, real, text, null };
    Kind kind = Kind::null;
    int64_t integer = 0;
    uint64_t unsignedInteger = 0;
    double real = 0;
    std::string text;
};

template <class T>
concept HasDescription = requires(const T& v) {
    { v.description() } -> std::convertible_to<std::string>;
};

template <class T>
FormatArg toFormatArg(const T& value) {
    FormatArg a;
    using U = std::remove_cvref_t<T>;
    if constexpr (std::is_same_v<U, std::nullptr_t>) {
        a.kind = FormatArg::Kind::null;
    } else if constexpr (std::is_same_v<U, bool>) {
        a.kind = FormatArg::Kind::integer;
        a.integer = value ? 1 : 0;
    } else if constexpr (std::is_enum_v<U>) {
        a.kind = FormatArg::Kind::integer;
        a.integer = static_cast<int64_t>(value);
    } else if constexpr (std::is_integral_v<U> && std::is_signed_v<U>) {
        a.kind = FormatArg::Kind::integer;
        a.integer = value;
    } else if constexpr (std::is_integral_v<U>) {
        a.kind = FormatArg::Kind::unsignedInteger;
        a.unsignedInteger = value;
    } else if constexpr (std::is_floating_point_v<U>) {
        a.kind = FormatArg::Kind::real;
        a.real = value;
    } else if constexpr (std::is_same_v<U, const char*> || std::is_same_v<U, char*>) {
        if (value) {
            a.kind = FormatArg::Kind::text;
            a.text = value;
        }
    } else if constexpr (std::is_convertible_v<const U&, std::string_view>) {
        a.kind = FormatArg::Kind::text;
        a.text = std::string(std::string_view(value));
    } else if constexpr (requires {
                             value.has_value();
                             *value;
                         }) {
        if (value.has_value()) return toFormatArg(*value);
    } else if constexpr (HasDescription<U>) {
        a.kind = FormatArg::Kind::text;
        a.text = value.description();
    } else {
        static_assert(sizeof(U) == 0, "no text for this argument type");
    }
    return a;
}

// printf-style formatting with "%@" for objects (their text; "(null)" for none).
// Supports flags, width, precision, length modifiers and d i u x X o c s @ f e g %.
std::string formatArgs(std::string_view format, const std::vector<FormatArg>& args);

template <class... Args>
std::string objcFormat(std::string_view format, const Args&... args) {
    return formatArgs(format, std::vector<FormatArg>{toFormatArg(args)...});
}

}  // namespace qz
