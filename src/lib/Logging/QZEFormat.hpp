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

namespace detail {

// An argument of a format text without flags: its text, or none for "(null)".
struct PlainArg {
    std::string_view text;
    bool null = true;
    char digits[24];
};

template <class T>
constexpr bool isPlainArg() {
    using U = std::remove_cvref_t<T>;
    if constexpr (std::is_same_v<U, std::nullptr_t> || std::is_integral_v<U>)
        return true;
    else if constexpr (std::is_same_v<U, const char*> || std::is_same_v<U, char*>)
        return true;
    else if constexpr (std::is_convertible_v<const U&, std::string_view>)
        return true;
    else if constexpr (requires { typename U::value_type; })
        return std::is_same_v<U, std::optional<typename U::value_type>> &&
               isPlainArg<typename U::value_type>();
    else
        return false;
}

void setPlainNumber(PlainArg& a, int64_t value);
void setPlainNumber(PlainArg& a, uint64_t value);

// The same text toFormatArg gives the argument.
template <class T>
void setPlainArg(PlainArg& a, const T& value) {
    using U = std::remove_cvref_t<T>;
    if constexpr (std::is_same_v<U, std::nullptr_t>) {
    } else if constexpr (std::is_same_v<U, bool> ||
                         (std::is_integral_v<U> && std::is_signed_v<U>)) {
        setPlainNumber(a, static_cast<int64_t>(value));
    } else if constexpr (std::is_integral_v<U>) {
        setPlainNumber(a, static_cast<uint64_t>(value));
    } else if constexpr (std::is_same_v<U, const char*> || std::is_same_v<U, char*>) {
        if (value) {
            a.text = value;
            a.null = false;
        }
    } else if constexpr (std::is_convertible_v<const U&, std::string_view>) {
        a.text = std::string_view(value);
        a.null = false;
    } else if (value.has_value()) {
        setPlainArg(a, *value);
    }
}

// Appends `format` with its "%@" and "%s" replaced by the arguments' texts and "%%" by "%".
// False (with `out` left partly written) for a format with any other conversion.
bool appendPlainFormat(std::string& out, std::string_view format, const PlainArg* args,
                       size_t count);

}  // namespace detail

template <class... Args>
std::string objcFormat(std::string_view format, const Args&... args) {
    if constexpr ((detail::isPlainArg<Args>() && ...)) {
        // Texts and numbers into "%@" only: written straight, without argument records.
        detail::PlainArg plain[sizeof...(Args) + 1];
        [[maybe_unused]] size_t at = 0;
        (detail::setPlainArg(plain[at++], args), ...);
        std::string out;
        if (detail::appendPlainFormat(out, format, plain, sizeof...(Args))) return out;
    }
    return formatArgs(format, std::vector<FormatArg>{toFormatArg(args)...});
}

}  // namespace qz
