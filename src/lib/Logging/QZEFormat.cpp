#include "lib/Logging/QZEFormat.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace qz {

namespace {

std::string printfOne(const std::string& conversion, auto value) {
    char buf[128];
    int n = std::snprintf(buf, sizeof buf, conversion.c_str(), value);
    if (n < 0) return {};
    if (static_cast<size_t>(n) < sizeof buf) return std::string(buf, static_cast<size_t>(n));
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), conversion.c_str(), value);
    out.resize(static_cast<size_t>(n));
    return out;
}

void appendArgText(std::string& out, const FormatArg& a) {
    char buf[24];
    switch (a.kind) {
        case FormatArg::Kind::text:
            out += a.text;
            return;
        case FormatArg::Kind::integer:
            out.append(buf, std::to_chars(buf, buf + sizeof buf, a.integer).ptr);
            return;
        case FormatArg::Kind::unsignedInteger:
            out.append(buf, std::to_chars(buf, buf + sizeof buf, a.unsignedInteger).ptr);
            return;
        case FormatArg::Kind::real:
            out += printfOne("%g", a.real);
            return;
        case FormatArg::Kind::null:
            out += "(null)";
            return;
    }
}

std::string argText(const FormatArg& a) {
    std::string out;
    appendArgText(out, a);
    return out;
}

}  // namespace

std::string formatArgs(std::string_view format, const std::vector<FormatArg>& args) {
    std::string out;
    size_t room = format.size();
    for (const auto& a : args) room += a.text.size();
    out.reserve(room);
    const FormatArg empty;
    size_t next = 0;
    size_t i = 0;
    while (i < format.size()) {
        const size_t percent = std::min(format.find('%', i), format.size());
        out.append(format.substr(i, percent - i));
        i = percent;
        if (i == format.size()) break;
        // "%@" and "%s" without flags, width or precision: the argument's text as it stands.
        if (i + 1 < format.size() && (format[i + 1] == '@' || format[i + 1] == 's')) {
            appendArgText(out, next < args.size() ? args[next] : empty);
            ++next;
            i += 2;
            continue;
        }
        size_t start = i++;
        std::string flags;
        while (i < format.size() &&
               std::string_view("-+ #0").find(format[i]) != std::string_view::npos)
            flags += format[i++];
        std::string width;
        while (i < format.size() && format[i] >= '0' && format[i] <= '9') width += format[i++];
        std::string precision;
        if (i < format.size() && format[i] == '.') {
            precision += format[i++];
            while (i < format.size() && format[i] >= '0' && format[i] <= '9')
                precision += format[i++];
        }
        while (i < format.size() &&
               std::string_view("hlqLzjt").find(format[i]) != std::string_view::npos)
            ++i;
        if (i >= format.size()) {
            out.append(format.substr(start));
            break;
        }
        char conv = format[i++];
        if (conv == '%') {
            out += '%';
            continue;
        }
        const FormatArg& a = next < args.size() ? args[next] : empty;
        ++next;
        std::string base = "%" + flags + width + precision;
        switch (conv) {
            case '@':
            case 's': {
                std::string t = argText(a);
                if (!width.empty() || !precision.empty()) t = printfOne(base + "s", t.c_str());
                out += t;
                break;
            }
            case 'd':
            case 'i': {
                long long v = a.kind == FormatArg::Kind::unsignedInteger
                                  ? static_cast<long long>(a.unsignedInteger)
                              : a.kind == FormatArg::Kind::real ? static_cast<long long>(a.real)
                                                                : a.integer;
                out += printfOne(base + "lld", v);
                break;
            }
            case 'u':
            case 'x':
            case 'X':
            case 'o': {
                unsigned long long v =
                    a.kind == FormatArg::Kind::integer ? static_cast<unsigned long long>(a.integer)
                    : a.kind == FormatArg::Kind::real
                        ? static_cast<unsigned long long>(static_cast<long long>(a.real))
                        : a.unsignedInteger;
                out += printfOne(base + "ll" + conv, v);
                break;
            }
            case 'c': {
                int v = static_cast<int>(
                    a.kind == FormatArg::Kind::unsignedInteger ? a.unsignedInteger : a.integer);
                out += printfOne(base + "c", v);
                break;
            }
            case 'f':
            case 'F':
            case 'e':
            case 'E':
            case 'g':
            case 'G': {
                double v = a.kind == FormatArg::Kind::real ? a.real
                           : a.kind == FormatArg::Kind::unsignedInteger
                               ? static_cast<double>(a.unsignedInteger)
                               : static_cast<double>(a.integer);
                out += printfOne(base + conv, v);
                break;
            }
            default:
                out.append(format.substr(start, i - start));
                break;
        }
    }
    return out;
}

namespace detail {

void setPlainNumber(PlainArg& a, int64_t value) {
    a.text =
        std::string_view(a.digits, std::to_chars(a.digits, a.digits + sizeof a.digits, value).ptr);
    a.null = false;
}

void setPlainNumber(PlainArg& a, uint64_t value) {
    a.text =
        std::string_view(a.digits, std::to_chars(a.digits, a.digits + sizeof a.digits, value).ptr);
    a.null = false;
}

bool appendPlainFormat(std::string& out, std::string_view format, const PlainArg* args,
                       size_t count) {
    size_t room = format.size();
    for (size_t k = 0; k < count; ++k) room += args[k].text.size();
    out.reserve(room);
    size_t next = 0;
    for (size_t i = 0; i < format.size();) {
        const size_t percent = std::min(format.find('%', i), format.size());
        out.append(format.substr(i, percent - i));
        if (percent == format.size()) break;
        const char conversion = percent + 1 < format.size() ? format[percent + 1] : '\0';
        if (conversion == '%') {
            out += '%';
        } else if (conversion == '@' || conversion == 's') {
            if (next < count && !args[next].null)
                out.append(args[next].text);
            else
                out += "(null)";
            ++next;
        } else {
            return false;
        }
        i = percent + 2;
    }
    return true;
}

}  // namespace detail

}  // namespace qz
